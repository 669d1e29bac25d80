#include "component/registry_entries.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

namespace brevun::component::registry {
namespace {

bool Known(std::string_view name, std::u16string& value) {
  if (name == "path") {
    value = u"C:\\Program Files\\brevun\\brevun.dll";
    return true;
  }
  if (name == "platform") {
    value = u"win64";
    return true;
  }
  return false;
}

TEST(RegistryExpand, FillsFixedNamesAndTheCallersPlaceholders) {
  std::u16string out = u"Software\\Classes\\";
  ASSERT_TRUE(Expand("{vi_progid}\\CurVer={progid} {version} {path} {platform}", Known, out));
  EXPECT_EQ(out,
            u"Software\\Classes\\brevun.velkor\\CurVer=brevun.velkor.1 1.0 "
            u"C:\\Program Files\\brevun\\brevun.dll win64");
}

TEST(RegistryExpand, KeepsABracedGuidAsText) {
  std::string out;
  ASSERT_TRUE(Expand("{00020424-0000-0000-C000-000000000046}",
                     [](std::string_view, std::string&) { return false; }, out));
  EXPECT_EQ(out, "{00020424-0000-0000-C000-000000000046}");
}

TEST(RegistryExpand, RefusesWhatItCannotFillCompletely) {
  // A key with a hole in it must never be written.
  for (const char* pattern : {"CLSID\\{clsid}", "TypeLib\\{libid", "{nobody}\\x"}) {
    std::u16string out;
    EXPECT_FALSE(Expand(pattern, Known, out)) << pattern;
  }
}

// Every placeholder of the list is one that both writers fill; a new one would be left out by
// one of them.
TEST(RegistryEntries, UseOnlyThePlaceholdersBothWritersKnow) {
  const std::set<std::string_view> known = {"clsid", "iid", "libid", "path", "folder", "platform"};
  auto lookup = [&known](std::string_view name, std::string& value) {
    value = "<" + std::string(name) + ">";
    return known.count(name) == 1;
  };
  for (const Entry& e : kEntries) {
    std::string out;
    EXPECT_TRUE(Expand(e.key, lookup, out)) << e.key;
    EXPECT_TRUE(Expand(e.value, lookup, out)) << e.key;
    if (e.name != nullptr) {
      EXPECT_TRUE(Expand(e.name, lookup, out)) << e.key;
    }
  }
}

// Each value is written once: two entries for one value would leave the outcome to the order.
TEST(RegistryEntries, NameEachValueOnce) {
  std::set<std::string> seen;
  for (const Entry& e : kEntries) {
    const std::string id = std::string(e.key) + "|" + (e.name == nullptr ? "" : e.name);
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
}

// Removal finds the library's path under each locale it walks, so each one must be written.
TEST(RegistryEntries, WriteThePathUnderEveryLocaleThatRemovalWalks) {
  for (const char* locale : kLocales) {
    const std::string key = std::string("TypeLib\\{libid}\\{version}\\") + locale + "\\{platform}";
    bool found = false;
    for (const Entry& e : kEntries) {
      if (key == e.key && e.name == nullptr && std::string_view(e.value) == "{path}") found = true;
    }
    EXPECT_TRUE(found) << key;
  }
}

}  // namespace
}  // namespace brevun::component::registry
