#include "harness.h"

#include <objbase.h>

#include <cstring>
#include <exception>
#include <vector>

#include "check/text.h"
#include "win/wide_text.h"

namespace host {

namespace {

struct Group {
  const char* name;
  void (*run)();
};

std::vector<Group>& Groups() {
  static std::vector<Group> groups;
  return groups;
}

int g_checks = 0;
int g_failures = 0;

}  // namespace

void RecordCheck(bool ok, const char* file, int line, const std::string& what) {
  ++g_checks;
  if (ok) return;
  ++g_failures;
  const char* base = std::strrchr(file, '/');
  std::printf("  FAIL %s:%d: %s\n", base != nullptr ? base + 1 : file, line, what.c_str());
  std::fflush(stdout);
}

int RegisterGroup(const char* name, void (*run)()) {
  Groups().push_back({name, run});
  return static_cast<int>(Groups().size());
}

std::string Hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

std::string Narrow(const std::wstring& text) { return brevun::win::Utf8(text); }

std::string Narrow(const std::u16string& text) { return brevun::ToUtf8(text); }

}  // namespace host

// Runs the groups named on the command line (all of them with "all"), each on this thread in a
// single-threaded apartment, and prints one summary line: "<passed> passed, <failed> failed".
int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: brevun-comhost GROUP... | all\ngroups:");
    for (const auto& g : host::Groups()) std::printf(" %s", g.name);
    std::printf("\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::printf("CoInitializeEx failed\n0 passed, 1 failed\n");
    return 1;
  }
  int passed = 0;
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    bool found = false;
    for (const auto& g : host::Groups()) {
      if (std::strcmp(argv[i], "all") != 0 && std::strcmp(argv[i], g.name) != 0) continue;
      found = true;
      const int before = host::g_failures;
      const int checksBefore = host::g_checks;
      std::printf("group %s\n", g.name);
      std::fflush(stdout);
      try {
        g.run();
      } catch (const std::exception& e) {
        host::RecordCheck(false, __FILE__, __LINE__, std::string("exception: ") + e.what());
      } catch (...) {
        host::RecordCheck(false, __FILE__, __LINE__, "unknown exception");
      }
      const bool ok = host::g_failures == before;
      std::printf("%s %s (%d checks)\n", ok ? "PASS" : "FAIL", g.name,
                  host::g_checks - checksBefore);
      std::fflush(stdout);
      (ok ? passed : failed)++;
    }
    if (!found) {
      std::printf("FAIL unknown group %s\n", argv[i]);
      ++failed;
    }
  }
  CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
