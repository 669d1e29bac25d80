#include "component/registration.h"

#include <objbase.h>
#include <olectl.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brevun_idl.h"
#include "component/module.h"
#include "component/registry_entries.h"
#include "win/handles.h"
#include "win/this_module.h"
#include "win/wide_text.h"

namespace brevun::component {

namespace {

// The names come from the one list of what registration writes; removal needs them wide.
using win::WidenAscii;

#ifdef _WIN64
constexpr wchar_t kPlatform[] = L"win64";
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr wchar_t kPlatform[] = L"win32";
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT FromStatus(LSTATUS status) {
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

class Classes {
 public:
  explicit Classes(Scope scope)
      : root_(scope == Scope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) {}

  // Creates the key and sets one string value (name nullptr: the key's default value).
  HRESULT Set(const std::wstring& key, const wchar_t* name, const std::wstring& value) const {
    win::RegKey k;
    HRESULT hr = FromStatus(RegCreateKeyExW(root_, Path(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                            nullptr, k.Put(), nullptr));
    if (FAILED(hr)) return hr;
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return FromStatus(RegSetValueExW(k.get(), name, 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(value.c_str()), bytes));
  }

  // A string value, or nothing when the key or value is absent or not a string.
  bool Get(const std::wstring& key, const wchar_t* name, std::wstring& value,
           REGSAM view = 0) const {
    win::RegKey k;
    if (RegOpenKeyExW(root_, Path(key).c_str(), 0, KEY_QUERY_VALUE | view, k.Put()) !=
        ERROR_SUCCESS) {
      return false;
    }
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return false;
    }
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &bytes) != ERROR_SUCCESS) {
      return false;
    }
    buffer.resize(bytes / sizeof(wchar_t));
    while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
    value = buffer;
    return true;
  }

  bool Exists(const std::wstring& key, REGSAM view = 0) const {
    win::RegKey k;
    return RegOpenKeyExW(root_, Path(key).c_str(), 0, KEY_READ | view, k.Put()) == ERROR_SUCCESS;
  }

  bool HasSubkeys(const std::wstring& key) const {
    win::RegKey k;
    if (RegOpenKeyExW(root_, Path(key).c_str(), 0, KEY_READ, k.Put()) != ERROR_SUCCESS) {
      return false;
    }
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys > 0;
  }

  // Removes the key with everything below it; an absent key is already removed.
  HRESULT DeleteTree(const std::wstring& key) const {
    const LSTATUS status = RegDeleteTreeW(root_, Path(key).c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
      // RegDeleteTree empties the key; the key itself goes with RegDeleteKey.
      const LSTATUS gone = RegDeleteKeyW(root_, Path(key).c_str());
      if (gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND) return S_OK;
      return FromStatus(gone);
    }
    return FromStatus(status);
  }

  // The same key reached through the other registry view is this very key (the view shares
  // it), as opposed to a separate copy of it.
  bool SharedWithOtherView(const std::wstring& key) const;

 private:
  static std::wstring Path(const std::wstring& key) { return L"Software\\Classes\\" + key; }
  HKEY root_;
};

// Asks the kernel for a key's full name, which tells a shared key from a redirected one.
std::wstring KernelName(HKEY key) {
  using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return {};
  const auto query =
      reinterpret_cast<NtQueryKeyFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryKey")));
  if (query == nullptr) return {};
  constexpr int kKeyNameInformation = 3;
  std::vector<BYTE> buffer(4096);
  ULONG size = 0;
  if (query(key, kKeyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size) !=
      0) {
    return {};
  }
  ULONG length = 0;
  memcpy(&length, buffer.data(), sizeof length);
  return std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof(ULONG)),
                      length / sizeof(wchar_t));
}

bool Classes::SharedWithOtherView(const std::wstring& key) const {
  win::RegKey mine;
  if (RegOpenKeyExW(root_, Path(key).c_str(), 0, KEY_READ, mine.Put()) != ERROR_SUCCESS) {
    return false;
  }
  win::RegKey other;
  // A 64-bit process that asks for the 32-bit view of a shared key may be told that there is
  // no such key; unknown counts as shared, which only ever keeps an entry.
  if (RegOpenKeyExW(root_, Path(key).c_str(), 0, KEY_READ | kOtherView, other.Put()) !=
      ERROR_SUCCESS) {
    return true;
  }
  const std::wstring a = KernelName(mine.get());
  const std::wstring b = KernelName(other.get());
  if (a.empty() || b.empty()) return true;
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  auto longForm = [](const std::wstring& path) {
    std::wstring buffer(32768, L'\0');
    const DWORD n =
        GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return path;
    buffer.resize(n);
    return buffer;
  };
  return CompareStringOrdinal(longForm(a).c_str(), -1, longForm(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring Directory(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

struct Keys {
  std::wstring clsid = GuidText(CLSID_velkor);
  std::wstring libid = GuidText(LIBID_brevun);
  std::wstring classKey = L"CLSID\\" + clsid;
  std::wstring interfaceKey = L"Interface\\" + GuidText(IID__velkor);
  std::wstring libraryKey = L"TypeLib\\" + libid;
  std::wstring versionKey = libraryKey + L"\\" + WidenAscii(registry::kVersion);
  std::wstring progId = WidenAscii(registry::kProgId);
  std::wstring independentProgId = WidenAscii(registry::kIndependentProgId);
};

HRESULT WriteAll(const Classes& classes, const Keys& k, const std::wstring& path) {
  const std::wstring folder = Directory(path);
  auto lookup = [&](std::string_view name, std::wstring& value) {
    if (name == "clsid") {
      value = k.clsid;
    } else if (name == "iid") {
      value = GuidText(IID__velkor);
    } else if (name == "libid") {
      value = k.libid;
    } else if (name == "path") {
      value = path;
    } else if (name == "folder") {
      value = folder;
    } else if (name == "platform") {
      value = kPlatform;
    } else {
      return false;
    }
    return true;
  };
  for (const registry::Entry& e : registry::kEntries) {
    std::wstring key;
    std::wstring value;
    std::wstring name;
    if (!registry::Expand(e.key, lookup, key) || !registry::Expand(e.value, lookup, value) ||
        (e.name != nullptr && !registry::Expand(e.name, lookup, name))) {
      return E_UNEXPECTED;
    }
    const HRESULT hr = classes.Set(key, e.name == nullptr ? nullptr : name.c_str(), value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// The class entry of this view belongs to this copy of the library (or is half-made, with no
// server at all).
bool ClassIsOurs(const Classes& classes, const Keys& k, const std::wstring& path) {
  std::wstring server;
  if (!classes.Get(k.classKey + L"\\InprocServer32", nullptr, server)) return true;
  return SamePath(server, path);
}

HRESULT RemoveClass(const Classes& classes, const Keys& k, const std::wstring& path) {
  if (!classes.Exists(k.classKey)) return S_OK;
  if (!ClassIsOurs(classes, k, path)) return S_OK;
  return classes.DeleteTree(k.classKey);
}

// A programmatic id goes only when it names our class and no registration of the class that it
// can lead to remains: not in this view, and not in the other view when the two share it.
HRESULT RemoveProgId(const Classes& classes, const Keys& k, const std::wstring& progId) {
  std::wstring clsid;
  if (!classes.Get(progId + L"\\CLSID", nullptr, clsid)) return S_OK;
  if (CompareStringOrdinal(clsid.c_str(), -1, k.clsid.c_str(), -1, TRUE) != CSTR_EQUAL) return S_OK;
  if (classes.Exists(k.classKey)) return S_OK;
  if (classes.Exists(k.classKey, kOtherView) && classes.SharedWithOtherView(progId)) return S_OK;
  return classes.DeleteTree(progId);
}

// The type library's path entries of this platform go when they name this copy; the version
// key goes with its last platform entry, and the interface with the library it points to.
HRESULT RemoveTypeLibrary(const Classes& classes, const Keys& k, const std::wstring& path) {
  bool anotherCopy = false;
  for (const char* name : registry::kLocales) {
    const std::wstring locale = WidenAscii(name);
    const std::wstring localeKey = k.versionKey + L"\\" + locale;
    const std::wstring platformKey = localeKey + L"\\" + kPlatform;
    std::wstring registered;
    if (!classes.Get(platformKey, nullptr, registered)) continue;
    if (!SamePath(registered, path)) {
      anotherCopy = true;
      continue;
    }
    HRESULT hr = classes.DeleteTree(platformKey);
    if (FAILED(hr)) return hr;
    if (!classes.HasSubkeys(localeKey)) {
      hr = classes.DeleteTree(localeKey);
      if (FAILED(hr)) return hr;
    }
  }
  if (anotherCopy) return S_OK;

  std::wstring library;
  if (classes.Get(k.interfaceKey + L"\\TypeLib", nullptr, library) &&
      CompareStringOrdinal(library.c_str(), -1, k.libid.c_str(), -1, TRUE) == CSTR_EQUAL) {
    const HRESULT hr = classes.DeleteTree(k.interfaceKey);
    if (FAILED(hr)) return hr;
  }

  // With no locale left, only FLAGS and HELPDIR remain: no platform of the library is
  // registered any more.
  bool platformsLeft = false;
  for (const char* name : registry::kLocales) {
    const std::wstring locale = WidenAscii(name);
    if (classes.Exists(k.versionKey + L"\\" + locale)) platformsLeft = true;
  }
  if (!platformsLeft) {
    const HRESULT hr = classes.DeleteTree(k.versionKey);
    if (FAILED(hr)) return hr;
  } else {
    // The library stays registered for the other platform, whose registration may have found
    // the help folder already set to ours: hand it back to a copy that remains.
    std::wstring helpDir;
    if (classes.Get(k.versionKey + L"\\HELPDIR", nullptr, helpDir) &&
        SamePath(helpDir, Directory(path))) {
      for (const char* name : registry::kLocales) {
        const std::wstring locale = WidenAscii(name);
        for (const wchar_t* platform : {L"win32", L"win64"}) {
          std::wstring remaining;
          if (classes.Get(k.versionKey + L"\\" + locale + L"\\" + platform, nullptr, remaining)) {
            return classes.Set(k.versionKey + L"\\HELPDIR", nullptr, Directory(remaining));
          }
        }
      }
    }
  }
  if (classes.Exists(k.libraryKey) && !classes.HasSubkeys(k.libraryKey)) {
    return classes.DeleteTree(k.libraryKey);
  }
  return S_OK;
}

}  // namespace

HRESULT Register(Scope scope) {
  const std::optional<std::wstring> path = win::ThisModulePath();
  if (!path) return SELFREG_E_CLASS;
  const Classes classes(scope);
  const Keys keys;
  const HRESULT hr = WriteAll(classes, keys, *path);
  if (FAILED(hr)) {
    // Leave nothing half-written behind.
    Unregister(scope);
    return hr;
  }
  return S_OK;
}

HRESULT Unregister(Scope scope) {
  const std::optional<std::wstring> path = win::ThisModulePath();
  if (!path) return SELFREG_E_CLASS;
  const Classes classes(scope);
  const Keys keys;
  HRESULT result = S_OK;
  auto keep = [&result](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  };
  keep(RemoveClass(classes, keys, *path));
  keep(RemoveProgId(classes, keys, keys.progId));
  keep(RemoveProgId(classes, keys, keys.independentProgId));
  keep(RemoveTypeLibrary(classes, keys, *path));
  return result;
}

}  // namespace brevun::component
