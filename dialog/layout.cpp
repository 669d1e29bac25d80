#include "dialog/layout.h"

namespace brevun::dialog {

namespace {

using K = ControlKind;

// clang-format off
constexpr std::array<ControlLayout, kLayoutSize> kLayout = {{
    {kBtOK,                u"btOK",                K::kButton,     0,          u"&OK",                {5400, 4200,  735,  375}},
    {kTxtTimeout,          u"txtTimeout",          K::kTextBox,    0,          u"",                   {3600, 4200, 1095,  285}},
    {kLblVersion,          u"lblVersion",          K::kLabel,      0,          u"",                   { 240, 4200, 2415,  255}},
    {kFrameTime,           u"FrameTime",           K::kFrame,      0,          u"First Time Source",  { 120,  120, 6375, 2295}},
    {kTxtDifference,       u"txtDifference",       K::kTextBox,    kFrameTime, u"",                   {1560, 1800, 4500,  285}},
    {kTxtFirstTimeServer,  u"txtFirstTimeServer",  K::kTextBox,    kFrameTime, u"",                   {1560,  720, 4500,  285}},
    {kLabel3,              u"Label3",              K::kLabel,      kFrameTime, u"Max difference:",    { 240, 1860, 1215,  255}},
    {kLabel2,              u"Label2",              K::kLabel,      kFrameTime, u"Time Host:",         { 240,  720, 1215,  255}},
    {kCmbFirstTimeSource,  u"cmbFirstTimeSource",  K::kSourceList, kFrameTime, u"",                   {1560,  240, 4455,  315}},
    {kLabel4,              u"Label4",              K::kLabel,      kFrameTime, u"Source",             { 240,  300, 1215,  255}},
    {kFrame1,              u"Frame1",              K::kFrame,      0,          u"Second Time Source", { 120, 2520, 6375, 1215}},
    {kCmbSecondTimeSource, u"cmbSecondTimeSource", K::kSourceList, kFrame1,    u"",                   {1560,  240, 4455,  315}},
    {kTxtSecondTimeServer, u"txtSecondTimeServer", K::kTextBox,    kFrame1,    u"",                   {1560,  720, 4500,  285}},
    {kLabel1,              u"Label1",              K::kLabel,      kFrame1,    u"Source",             { 240,  300, 1215,  255}},
    {kLabel5,              u"Label5",              K::kLabel,      kFrame1,    u"Time Host:",         { 240,  720, 1215,  255}},
}};
// clang-format on

}  // namespace

const std::array<ControlLayout, kLayoutSize>& Layout() { return kLayout; }

const ControlLayout* FindControl(int id) {
  for (const auto& c : kLayout) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

// Rounded to the nearest pixel; every value of the layout above converts exactly.
int TwipsToPixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

Rect ToPixels(const Rect& twips) {
  return {TwipsToPixels(twips.left), TwipsToPixels(twips.top), TwipsToPixels(twips.width),
          TwipsToPixels(twips.height)};
}

Rect ClientPixels(const ControlLayout& control) {
  Rect r = ToPixels(control.twips);
  if (control.container != 0) {
    if (const ControlLayout* frame = FindControl(control.container)) {
      const Rect f = ToPixels(frame->twips);
      r.left += f.left;
      r.top += f.top;
    }
  }
  return r;
}

}  // namespace brevun::dialog
