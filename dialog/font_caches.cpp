#include "dialog/font_caches.h"

#include "win/gui.h"
#include "win/system_library.h"

namespace brevun::dialog {

namespace {

// SCRIPT_CACHE is a void*; the functions are looked up rather than imported, so that the
// library comes from the system folder (win/system_library.h).
using GetHeight = HRESULT(WINAPI*)(HDC dc, void** cache, long* height);

// The entries are made one thread at a time across every dialog of the process.
win::CriticalSection& MakingLock() {
  static win::CriticalSection lock;
  return lock;
}

}  // namespace

FontCaches::FontCaches(HFONT dialogFont) {
  library_.Reset(win::LoadSystemLibrary(L"usp10.dll"));
  if (!library_) return;
  const auto getHeight = reinterpret_cast<GetHeight>(
      reinterpret_cast<void*>(GetProcAddress(library_.get(), "ScriptCacheGetHeight")));
  free_ = reinterpret_cast<FreeCache>(
      reinterpret_cast<void*>(GetProcAddress(library_.get(), "ScriptFreeCache")));
  if (getHeight == nullptr || free_ == nullptr) return;

  // An entry is found by the font's description, not by its handle: fonts made from the same
  // description share it, as the caption's that the window manager makes for each frame does.
  std::vector<LOGFONTW> fonts;
  LOGFONTW own{};
  if (dialogFont != nullptr && GetObjectW(dialogFont, sizeof own, &own) == sizeof own) {
    fonts.push_back(own);
  }
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    fonts.push_back(metrics.lfCaptionFont);
    fonts.push_back(metrics.lfMessageFont);
  }
  caches_.reserve(fonts.size());

  const HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return;
  {
    win::Lock lock(MakingLock());
    const HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT);
    for (const LOGFONTW& description : fonts) {
      const win::Font font(CreateFontIndirectW(&description));
      if (!font) continue;
      SelectObject(dc, font.get());
      void* cache = nullptr;
      long height = 0;
      if (SUCCEEDED(getHeight(dc, &cache, &height)) && cache != nullptr) caches_.push_back(cache);
      SelectObject(dc, original);
    }
  }
  DeleteDC(dc);
}

FontCaches::~FontCaches() {
  for (void*& cache : caches_) free_(&cache);
}

}  // namespace brevun::dialog
