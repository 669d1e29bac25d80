// brevun-wxs: writes the WiX include with the registry rows of one copy of brevun.dll in a
// package, from the library's registration list and the identifiers in its IDL.
//
//   brevun-wxs --idl FILE --platform win32|win64 --file ID --folder PARENT NAME --ids PREFIX
//              [--omit-folder] -o OUT
// --omit-folder leaves out the entries that name the folder, for the second library of a
// package (see Target::omitFolder).
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "component/registry_entries.h"
#include "installer/wix_registry.h"

namespace {

int Usage() {
  std::cerr << "usage: brevun-wxs --idl FILE --platform win32|win64 --file ID --folder PARENT NAME"
               " --ids PREFIX [--omit-folder] -o OUT\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  namespace registry = brevun::component::registry;
  brevun::installer::Target target;
  std::string idlPath;
  std::string outPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const int left = argc - i - 1;
    if (arg == "--idl" && left >= 1) {
      idlPath = argv[++i];
    } else if (arg == "--platform" && left >= 1) {
      target.platform = argv[++i];
    } else if (arg == "--file" && left >= 1) {
      target.fileId = argv[++i];
    } else if (arg == "--folder" && left >= 2) {
      target.folderParent = argv[++i];
      target.folderName = argv[++i];
    } else if (arg == "--omit-folder") {
      target.omitFolder = true;
    } else if (arg == "--ids" && left >= 1) {
      target.idPrefix = argv[++i];
    } else if (arg == "-o" && left >= 1) {
      outPath = argv[++i];
    } else {
      return Usage();
    }
  }
  if (idlPath.empty() || outPath.empty() || target.fileId.empty() || target.idPrefix.empty() ||
      target.folderName.empty()) {
    return Usage();
  }
  if (target.platform != "win32" && target.platform != "win64") {
    std::cerr << "brevun-wxs: --platform must be win32 or win64\n";
    return 2;
  }

  std::ifstream idlFile(idlPath, std::ios::binary);
  if (!idlFile) {
    std::cerr << "brevun-wxs: cannot read " << idlPath << "\n";
    return 1;
  }
  const std::string idl((std::istreambuf_iterator<char>(idlFile)), std::istreambuf_iterator<char>());
  struct {
    const char* kind;
    const char* name;
    std::string* guid;
  } const wanted[] = {
      {"coclass", registry::kClassName, &target.clsid},
      {"interface", registry::kInterfaceName, &target.iid},
      {"library", registry::kLibraryName, &target.libid},
  };
  for (const auto& w : wanted) {
    const auto guid = brevun::installer::IdlUuid(idl, w.kind, w.name);
    if (!guid) {
      std::cerr << "brevun-wxs: no uuid for '" << w.kind << " " << w.name << "' in " << idlPath
                << "\n";
      return 1;
    }
    *w.guid = *guid;
  }

  std::string error;
  const auto include = brevun::installer::RegistryInclude(target, error);
  if (!include) {
    std::cerr << "brevun-wxs: " << error << "\n";
    return 1;
  }
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out << *include;
  out.close();
  if (!out) {
    std::cerr << "brevun-wxs: cannot write " << outPath << "\n";
    return 1;
  }
  return 0;
}
