// A small test harness for the Windows test host: named groups of checks, run by name from the
// command line, with one summary line that the Wine test scripts look for.
#pragma once

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace host {

void RecordCheck(bool ok, const char* file, int line, const std::string& what);
int RegisterGroup(const char* name, void (*run)());

std::string Hex(long value);
std::string Narrow(const std::wstring& text);
std::string Narrow(const std::u16string& text);

template <typename A, typename B>
std::string Describe(const A& a, const B& b) {
  std::ostringstream out;
  out << a << " vs " << b;
  return out.str();
}

}  // namespace host

#define HOST_CHECK(cond) host::RecordCheck((cond), __FILE__, __LINE__, #cond)
#define HOST_CHECK_MSG(cond, msg) \
  host::RecordCheck((cond), __FILE__, __LINE__, std::string(#cond) + ": " + (msg))
#define HOST_CHECK_EQ(a, b)                         \
  host::RecordCheck((a) == (b), __FILE__, __LINE__, \
                    std::string(#a " == " #b ": ") + host::Describe((a), (b)))
#define HOST_CHECK_HR(expected, expr)                                                             \
  do {                                                                                            \
    const HRESULT host_hr_ = (expr);                                                              \
    host::RecordCheck(host_hr_ == (expected), __FILE__, __LINE__,                                 \
                      std::string(#expr " -> ") + host::Hex(host_hr_) + ", expected " #expected); \
  } while (0)

#define HOST_GROUP(name)                                                  \
  static void name();                                                     \
  static const int host_group_##name = host::RegisterGroup(#name, &name); \
  static void name()
