#include "installer/wix_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "component/registry_entries.h"

namespace brevun::installer {
namespace {

constexpr char kIdl[] = R"(
import "oaidl.idl";
[
  uuid(a9b1f859-3b15-4d14-bdd6-97618fb3de17),
  version(1.0),
  helpfile("brevun.chm")
]
library brevun
{
  [ uuid( 779E6035-40AC-462C-B639-7F809D1E4F2B ), dual ]
  interface _velkor : IDispatch { };
  [uuid(11111111-2222-3333-4444-555555555555)] dispinterface _velkorEvents { };
  interface _velkorOther;
  [ uuid(C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61), version(1.0) ]
  coclass velkor { [default] interface _velkor; };
  [ version(1.0) ] coclass plain { };
  [ uuid(C40F1BB8-8B7A-4F83-A60F) ] coclass broken { };
};
)";

TEST(IdlUuid, ReadsTheAttributeListRightBeforeTheDeclaration) {
  EXPECT_EQ(IdlUuid(kIdl, "library", "brevun"), "{A9B1F859-3B15-4D14-BDD6-97618FB3DE17}");
  EXPECT_EQ(IdlUuid(kIdl, "interface", "_velkor"), "{779E6035-40AC-462C-B639-7F809D1E4F2B}");
  EXPECT_EQ(IdlUuid(kIdl, "coclass", "velkor"), "{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}");
}

TEST(IdlUuid, FindsNothingRatherThanAnotherDeclarationsUuid) {
  // "importlib"/"dispinterface" hold the words, and "_velkorOther" starts with the name; the
  // uuid before a declaration with no attributes of its own belongs to something else.
  EXPECT_EQ(IdlUuid(kIdl, "interface", "_velkorOther"), std::nullopt);
  EXPECT_EQ(IdlUuid(kIdl, "interface", "_velkorEvents"), std::nullopt);
  EXPECT_EQ(IdlUuid(kIdl, "coclass", "plain"), std::nullopt);
  EXPECT_EQ(IdlUuid(kIdl, "coclass", "broken"), std::nullopt);
  EXPECT_EQ(IdlUuid(kIdl, "coclass", "missing"), std::nullopt);
  EXPECT_EQ(IdlUuid("coclass velkor {};", "coclass", "velkor"), std::nullopt);
}

TEST(IdlUuid, FindsTheThreeIdentifiersOfTheRealLibrary) {
  std::ifstream file(BREVUN_IDL_PATH);
  const std::string idl((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(idl.empty());
  namespace registry = component::registry;
  const auto clsid = IdlUuid(idl, "coclass", registry::kClassName);
  const auto iid = IdlUuid(idl, "interface", registry::kInterfaceName);
  const auto libid = IdlUuid(idl, "library", registry::kLibraryName);
  ASSERT_TRUE(clsid && iid && libid);
  EXPECT_EQ((std::set<std::string>{*clsid, *iid, *libid}).size(), 3u);
}

Target Sample() {
  Target t;
  t.clsid = "{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}";
  t.iid = "{779E6035-40AC-462C-B639-7F809D1E4F2B}";
  t.libid = "{A9B1F859-3B15-4D14-BDD6-97618FB3DE17}";
  t.platform = "win32";
  t.fileId = "dll32";
  t.folderParent = "ProgramFilesFolder";
  t.folderName = "brevun";
  t.idPrefix = "x86_reg";
  return t;
}

struct Row {
  std::string id, key, name, value;
  bool hasName;
};

std::vector<Row> Rows(const std::string& include) {
  static const std::regex row(
      R"re(  <RegistryValue Id="([^"]*)" Root="HKLM" Key="([^"]*)"( Name="([^"]*)")? Type="string" Value="([^"]*)"/>)re");
  std::vector<Row> rows;
  for (std::sregex_iterator it(include.begin(), include.end(), row), end; it != end; ++it) {
    rows.push_back({(*it)[1], (*it)[2], (*it)[4], (*it)[5], (*it)[3].matched});
  }
  return rows;
}

TEST(RegistryInclude, HasOneRowPerEntryInListOrderUnderTheMachinesClasses) {
  std::string error;
  const auto include = RegistryInclude(Sample(), error);
  ASSERT_TRUE(include) << error;
  const auto rows = Rows(*include);
  ASSERT_EQ(rows.size(), std::size(component::registry::kEntries));
  std::string previous;
  for (const Row& r : rows) {
    EXPECT_EQ(r.key.rfind("Software\\Classes\\", 0), 0u) << r.key;
    EXPECT_EQ(r.id.rfind("x86_reg", 0), 0u);
    EXPECT_LT(previous, r.id) << "ids must sort in list order";
    previous = r.id;
    // Nothing is left for the installer to misread as a reference but the two we mean.
    if (r.value.find('[') != std::string::npos) {
      EXPECT_TRUE(r.value == "[#dll32]" || r.value == "[ProgramFilesFolder]brevun") << r.value;
    }
    EXPECT_EQ(r.key.find('['), std::string::npos) << r.key;
  }
}

TEST(RegistryInclude, NamesTheFileTheFolderAndThePlatformOfItsCopy) {
  std::string error;
  const auto rows = Rows(RegistryInclude(Sample(), error).value_or(""));
  auto value = [&rows](const std::string& key, const std::string& name = "") {
    for (const Row& r : rows) {
      if (r.key == "Software\\Classes\\" + key && r.name == name) return r.value;
    }
    return std::string("<absent>");
  };
  const std::string clsid = "CLSID\\{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}";
  const std::string version = "TypeLib\\{A9B1F859-3B15-4D14-BDD6-97618FB3DE17}\\1.0";
  EXPECT_EQ(value(clsid + "\\InprocServer32"), "[#dll32]");
  EXPECT_EQ(value(clsid + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(value(version + "\\409\\win32"), "[#dll32]");
  EXPECT_EQ(value(version + "\\0\\win32"), "[#dll32]");
  // The folder as DllRegisterServer writes it: no trailing separator.
  EXPECT_EQ(value(version + "\\HELPDIR"), "[ProgramFilesFolder]brevun");
  EXPECT_EQ(value("brevun.velkor\\CLSID"), "{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}");
  EXPECT_EQ(value("brevun.velkor.1\\CLSID"), "{C40F1BB8-8B7A-4F83-A60F-7BC7D5327C61}");
}

TEST(RegistryInclude, LeavesTheSharedHelpFolderToTheOtherLibraryWhenAsked) {
  Target t = Sample();
  t.omitFolder = true;
  std::string error;
  const auto rows = Rows(RegistryInclude(t, error).value_or(""));
  ASSERT_EQ(rows.size(), std::size(component::registry::kEntries) - 1);
  for (const Row& r : rows) {
    EXPECT_EQ(r.key.find("HELPDIR"), std::string::npos);
    EXPECT_NE(r.value, "[ProgramFilesFolder]brevun");
  }
  // Everything else is still there, the library's own path included.
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                          [](const Row& r) { return r.value == "[#dll32]"; }));
}

TEST(RegistryInclude, EscapesTextForXml) {
  Target t = Sample();
  t.folderName = "a&b \"c\" <d>";
  std::string error;
  const auto include = RegistryInclude(t, error);
  ASSERT_TRUE(include) << error;
  EXPECT_NE(include->find("Value=\"[ProgramFilesFolder]a&amp;b &quot;c&quot; &lt;d&gt;\""),
            std::string::npos);
}

TEST(RegistryInclude, RefusesRowsTheInstallerWouldReadOtherwise) {
  struct Case {
    const char* what;
    void (*change)(Target&);
  };
  const Case cases[] = {
      {"a bracket in the folder", [](Target& t) { t.folderName = "b[x]"; }},
      {"a bracket in a GUID", [](Target& t) { t.clsid = "{[ProductCode]}"; }},
      {"a value read as a number", [](Target& t) { t.clsid = "#42"; }},
      {"a file id that breaks the reference", [](Target& t) { t.fileId = "dll]x"; }},
      {"a folder property that is no identifier", [](Target& t) { t.folderParent = ""; }},
      {"an id prefix that is no identifier", [](Target& t) { t.idPrefix = "x 86"; }},
  };
  for (const Case& c : cases) {
    Target t = Sample();
    c.change(t);
    std::string error;
    EXPECT_FALSE(RegistryInclude(t, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

}  // namespace
}  // namespace brevun::installer
