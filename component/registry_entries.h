// What registering the library writes under Software\Classes, as one list that both writers
// walk: DllRegisterServer (registration.cpp) at run time, and the installer's generator
// (installer/), which turns it into the package's own registry rows. Keeping one list is what
// makes a package install and a regsvr32 registration leave the same keys behind.
//
// Portable on purpose: the generator runs on the build machine. The texts are ASCII patterns
// with placeholders in braces that each writer fills in:
//   {clsid} {iid} {libid}  the class, interface and type library identifiers, braced GUIDs
//   {path}                 the library's full path
//   {folder}               the folder the library is in, without a trailing separator
//   {platform}             win32 or win64, the type library's platform key of this build
// The fixed names ({progid}, {vi_progid}, {class}, {interface}, {library}, {version}) are
// filled in from the constants below by Expand itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "win/wide_text.h"

namespace brevun::component::registry {

inline constexpr char kProgId[] = "brevun.velkor.1";
inline constexpr char kIndependentProgId[] = "brevun.velkor";
inline constexpr char kClassName[] = "velkor";
inline constexpr char kInterfaceName[] = "_velkor";
inline constexpr char kLibraryName[] = "brevun";
inline constexpr char kVersion[] = "1.0";
// The locale keys under which the entries below name the library's path: the type library's
// own locale, and the neutral one, since some type library marshalers look only under 0.
// Removal walks these.
inline constexpr const char* kLocales[] = {"409", "0"};

// One string value: key below Software\Classes, value name (nullptr: the key's default
// value), and the value's text.
struct Entry {
  const char* key;
  const char* name;
  const char* value;
};

inline constexpr Entry kEntries[] = {
    // The type library and the interface it describes.
    {"TypeLib\\{libid}\\{version}", nullptr, "{library}"},
    {"TypeLib\\{libid}\\{version}\\FLAGS", nullptr, "0"},
    // The help file stands beside the library.
    {"TypeLib\\{libid}\\{version}\\HELPDIR", nullptr, "{folder}"},
    {"TypeLib\\{libid}\\{version}\\409\\{platform}", nullptr, "{path}"},
    {"TypeLib\\{libid}\\{version}\\0\\{platform}", nullptr, "{path}"},
    // Calls on the interface from another apartment travel by the type library, through the
    // automation marshaler.
    {"Interface\\{iid}", nullptr, "{interface}"},
    {"Interface\\{iid}\\ProxyStubClsid", nullptr, "{00020424-0000-0000-C000-000000000046}"},
    {"Interface\\{iid}\\ProxyStubClsid32", nullptr, "{00020424-0000-0000-C000-000000000046}"},
    {"Interface\\{iid}\\TypeLib", nullptr, "{libid}"},
    {"Interface\\{iid}\\TypeLib", "Version", "{version}"},
    // The class, served in-process by this copy of the library.
    {"CLSID\\{clsid}", nullptr, "{class}"},
    {"CLSID\\{clsid}\\InprocServer32", nullptr, "{path}"},
    {"CLSID\\{clsid}\\InprocServer32", "ThreadingModel", "Apartment"},
    {"CLSID\\{clsid}\\ProgID", nullptr, "{progid}"},
    {"CLSID\\{clsid}\\VersionIndependentProgID", nullptr, "{vi_progid}"},
    {"CLSID\\{clsid}\\TypeLib", nullptr, "{libid}"},
    {"CLSID\\{clsid}\\Version", nullptr, "{version}"},
    // Both programmatic ids create the class.
    {"{progid}", nullptr, "{class}"},
    {"{progid}\\CLSID", nullptr, "{clsid}"},
    {"{vi_progid}", nullptr, "{class}"},
    {"{vi_progid}\\CLSID", nullptr, "{clsid}"},
    {"{vi_progid}\\CurVer", nullptr, "{progid}"},
};

// Fills the placeholders of pattern into out (appended). lookup(name) gives the text of a
// placeholder the caller knows as a String, or returns false; the fixed names are widened
// from the constants above. A placeholder nobody knows, or an unclosed brace, fails the whole
// expansion: a half-filled key must never reach the registry. A brace pair that holds a GUID
// (anything but a placeholder name) is plain text.
template <typename String, typename Lookup>
bool Expand(std::string_view pattern, Lookup&& lookup, String& out) {
  auto fixed = [](std::string_view name) -> const char* {
    if (name == "progid") return kProgId;
    if (name == "vi_progid") return kIndependentProgId;
    if (name == "class") return kClassName;
    if (name == "interface") return kInterfaceName;
    if (name == "library") return kLibraryName;
    if (name == "version") return kVersion;
    return nullptr;
  };
  auto isName = [](std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
      if (!((c >= 'a' && c <= 'z') || c == '_')) return false;
    }
    return true;
  };
  std::size_t i = 0;
  while (i < pattern.size()) {
    if (pattern[i] != '{') {
      out += win::WidenAscii<String>(pattern.substr(i, 1));
      ++i;
      continue;
    }
    const std::size_t close = pattern.find('}', i);
    if (close == std::string_view::npos) return false;
    const std::string_view name = pattern.substr(i + 1, close - i - 1);
    if (!isName(name)) {
      out += win::WidenAscii<String>(pattern.substr(i, close - i + 1));
    } else if (const char* text = fixed(name)) {
      out += win::WidenAscii<String>(text);
    } else {
      String value;
      if (!lookup(name, value)) return false;
      out += value;
    }
    i = close + 1;
  }
  return true;
}

}  // namespace brevun::component::registry
