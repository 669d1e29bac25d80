// The library file itself: its version resource and its embedded type library.
#include <windows.h>
#include <winver.h>

#include <vector>

#include "common.h"
#include "harness.h"
#include "tests/project_version.h"

namespace host {
namespace {

std::wstring StringValue(const std::vector<BYTE>& block, const wchar_t* name, bool& found) {
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  found = VerQueryValueW(block.data(), path.c_str(), &value, &length) != FALSE;
  if (!found || value == nullptr) return {};
  std::wstring text(static_cast<const wchar_t*>(value), length);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

HOST_GROUP(version) {
  // Load the library the way a host does, then read the file behind it.
  ComPtr<_velkor> object = CreateVelkor();
  const HMODULE library = GetModuleHandleW(L"brevun.dll");
  HOST_CHECK(library != nullptr);
  if (library == nullptr) return;
  wchar_t path[MAX_PATH];
  HOST_CHECK(GetModuleFileNameW(library, path, MAX_PATH) > 0);

  // English (United States), as the one language of the resource.
  HOST_CHECK(FindResourceExW(library, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1),
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) != nullptr);
  HOST_CHECK(FindResourceW(library, MAKEINTRESOURCEW(1), L"TYPELIB") != nullptr);

  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  HOST_CHECK(size > 0);
  if (size == 0) return;
  std::vector<BYTE> block(size);
  HOST_CHECK(GetFileVersionInfoW(path, 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  HOST_CHECK(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  if (fixed != nullptr) {
    // major.minor.0.build of the project version.
    constexpr DWORD kMs = MAKELONG(BREVUN_EXPECTED_VERSION_MINOR, BREVUN_EXPECTED_VERSION_MAJOR);
    constexpr DWORD kLs = MAKELONG(BREVUN_EXPECTED_VERSION_BUILD, 0);
    HOST_CHECK_EQ(fixed->dwFileVersionMS, kMs);
    HOST_CHECK_EQ(fixed->dwFileVersionLS, kLs);
    HOST_CHECK_EQ(fixed->dwProductVersionMS, kMs);
    HOST_CHECK_EQ(fixed->dwProductVersionLS, kLs);
    HOST_CHECK_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  }

  WORD* translation = nullptr;
  HOST_CHECK(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                            reinterpret_cast<void**>(&translation), &length));
  HOST_CHECK_EQ(length, 4u);
  if (translation != nullptr && length >= 4) {
    HOST_CHECK_EQ(translation[0], 0x0409);
    HOST_CHECK_EQ(translation[1], 1200);
  }

  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } strings[] = {
      {L"FileVersion", L"" BREVUN_EXPECTED_FILE_VERSION},
      {L"ProductVersion", L"" BREVUN_EXPECTED_FILE_VERSION},
      {L"InternalName", L"brevun"},
      {L"OriginalFilename", L"brevun.dll"},
      {L"ProductName", L"velkor"},
      {L"OLESelfRegister", L""},
  };
  for (const auto& s : strings) {
    bool found = false;
    const std::wstring value = StringValue(block, s.name, found);
    HOST_CHECK_MSG(found, Narrow(std::wstring(s.name)));
    HOST_CHECK_MSG(value == s.value, Narrow(std::wstring(s.name)) + " = " + Narrow(value));
  }
}

}  // namespace
}  // namespace host
