// The text layout caches of the fonts a dialog draws with, held for as long as its window lives.
//
// Text drawing keeps a layout cache per font (its metrics, glyphs and shaping tables) in one list
// for the whole process, made when a thread first draws with a font and gone when the last
// holder lets go. Under Wine, two threads that make the entry of the same font at the same moment
// leave a freed entry in that list, and the next lookup of any thread reads it: two apartments
// that open their dialogs together crash the host, in an edit box or a label, or hang it. A
// dialog therefore holds the entries of its fonts (its own, the caption's, the message box's)
// from before its window is made until after it is gone, and makes them one thread at a time:
// while any dialog of the process is open, its threads only ever find the entries, never make
// them. On Windows, holding them costs a few kilobytes and changes nothing.
#pragma once

#include <windows.h>

#include <vector>

#include "win/handles.h"

namespace brevun::dialog {

class FontCaches {
 public:
  // Holds the caches of the dialog's font and of the system's caption and message fonts.
  // Holds nothing where the text layout library cannot be loaded; never throws but for memory.
  explicit FontCaches(HFONT dialogFont);
  ~FontCaches();
  FontCaches(const FontCaches&) = delete;
  FontCaches& operator=(const FontCaches&) = delete;

  // How many fonts' caches are held; for the tests.
  std::size_t Held() const noexcept { return caches_.size(); }

 private:
  win::ModuleReference library_;
  using FreeCache = HRESULT(WINAPI*)(void** cache);
  FreeCache free_ = nullptr;
  std::vector<void*> caches_;
};

}  // namespace brevun::dialog
