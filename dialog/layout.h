// The fixed layout of the configuration dialog. Positions and sizes are kept in twips as the
// form was designed (1/1440 inch, 15 twips to a pixel at 96 dpi); the window converts them to
// pixels. Controls inside a frame are placed relative to that frame.
#pragma once

#include <array>
#include <string_view>

namespace brevun::dialog {

inline constexpr char16_t kDialogCaption[] = u"Time server check: External COM check ";

enum class ControlKind { kFrame, kLabel, kTextBox, kSourceList, kButton };

// Child window ids: 1000 + tab index. None of them is IDOK or IDCANCEL, so Enter and Escape,
// which the dialog manager turns into those two commands, press nothing.
enum ControlId : int {
  kBtOK = 1000,
  kTxtTimeout = 1001,
  kLblVersion = 1002,
  kFrameTime = 1003,
  kTxtDifference = 1004,
  kTxtFirstTimeServer = 1005,
  kLabel3 = 1006,
  kLabel2 = 1007,
  kCmbFirstTimeSource = 1008,
  kLabel4 = 1009,
  kFrame1 = 1010,
  kCmbSecondTimeSource = 1011,
  kTxtSecondTimeServer = 1012,
  kLabel1 = 1013,
  kLabel5 = 1014,
};

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  friend bool operator==(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
  }
};

struct ControlLayout {
  int id;
  std::u16string_view name;
  ControlKind kind;
  int container;  // id of the enclosing frame; 0 for the dialog itself
  std::u16string_view caption;
  Rect twips;  // relative to the container
};

inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kClientWidthTwips = 6705;
inline constexpr int kClientHeightTwips = 4695;

inline constexpr int kLayoutSize = 15;

// Every control of the dialog, in tab order (the order in which the window creates them, so
// that the window manager's tab order and the stacking order follow it).
const std::array<ControlLayout, kLayoutSize>& Layout();

// The control with this id, or nullptr.
const ControlLayout* FindControl(int id);

int TwipsToPixels(int twips);
Rect ToPixels(const Rect& twips);

// Where a control stands in the dialog's client area, in pixels: its frame's position added.
Rect ClientPixels(const ControlLayout& control);

}  // namespace brevun::dialog
