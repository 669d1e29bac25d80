// Turns the library's registration list (component/registry_entries.h) into the registry rows
// of an installer package, so that the package writes what DllRegisterServer writes without
// running the DLL. Portable: it runs on the build machine.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brevun::installer {

// The braced, upper-case GUID of the declaration "KIND NAME" (for example "coclass velkor")
// in an IDL text: the uuid attribute of the bracketed attribute list just before it. Nothing
// when the declaration, its attribute list or a well-formed uuid is missing.
std::optional<std::string> IdlUuid(std::string_view idl, std::string_view kind,
                                   std::string_view name);

// One copy of the library inside a package.
struct Target {
  std::string clsid, iid, libid;  // braced GUIDs
  std::string platform;           // win32 or win64
  std::string fileId;             // the File row of brevun.dll
  std::string folderParent;       // the directory property of the folder's parent ...
  std::string folderName;         // ... and the folder's own name under it
  std::string idPrefix;           // prefix of the Registry row ids, unique per target
  // Leave out the entries that name the folder (the type library's help folder). Both
  // libraries of one package write the same key there, since the two registry views share the
  // type library; with two writers the value would depend on the order the installer happens
  // to write rows in, so one library of a package owns it.
  bool omitFolder = false;
};

// A WiX include file with one RegistryValue element per entry of the list, for the Component
// that holds the DLL. The DLL's path becomes the installer's reference to its file, and the
// folder its parent's directory property followed by the folder's name: unlike a directory
// property, that has no trailing separator, which keeps the value the same as
// DllRegisterServer's. Fails (with the reason in error) rather than write a row that the
// installer would read differently: text with square brackets (a formatted reference), a value
// that starts with '#' (a number), or a placeholder the list does not know.
std::optional<std::string> RegistryInclude(const Target& target, std::string& error);

}  // namespace brevun::installer
