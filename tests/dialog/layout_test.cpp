#include "dialog/layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "check/text.h"

namespace brevun::dialog {
namespace {

std::string U8(std::u16string_view s) { return ToUtf8(s); }

bool Inside(const Rect& inner, const Rect& outer) {
  return inner.left >= outer.left && inner.top >= outer.top &&
         inner.left + inner.width <= outer.left + outer.width &&
         inner.top + inner.height <= outer.top + outer.height;
}

// A typo in the twips table would leave a fraction of a pixel: the form was laid out on the
// pixel grid, so every value must convert exactly.
TEST(Layout, EveryTwipsValueLiesOnThePixelGrid) {
  EXPECT_EQ(kClientWidthTwips % kTwipsPerPixel, 0);
  EXPECT_EQ(kClientHeightTwips % kTwipsPerPixel, 0);
  for (const auto& c : Layout()) {
    for (int v : {c.twips.left, c.twips.top, c.twips.width, c.twips.height}) {
      EXPECT_EQ(v % kTwipsPerPixel, 0) << U8(c.name) << " " << v;
    }
  }
  EXPECT_EQ(TwipsToPixels(kClientWidthTwips), 447);
  EXPECT_EQ(TwipsToPixels(kClientHeightTwips), 313);
}

TEST(Layout, ControlsStandWhereTheFormPutsThem) {
  const struct {
    int id;
    Rect pixels;  // in the dialog's client area
  } cases[] = {
      {kFrameTime, {8, 8, 425, 153}},
      {kCmbFirstTimeSource, {112, 24, 297, 21}},
      {kTxtFirstTimeServer, {112, 56, 300, 19}},
      {kTxtDifference, {112, 128, 300, 19}},
      {kLabel4, {24, 28, 81, 17}},
      {kLabel2, {24, 56, 81, 17}},
      {kLabel3, {24, 132, 81, 17}},
      {kFrame1, {8, 168, 425, 81}},
      {kCmbSecondTimeSource, {112, 184, 297, 21}},
      {kTxtSecondTimeServer, {112, 216, 300, 19}},
      {kLabel1, {24, 188, 81, 17}},
      {kLabel5, {24, 216, 81, 17}},
      {kLblVersion, {16, 280, 161, 17}},
      {kTxtTimeout, {240, 280, 73, 19}},
      {kBtOK, {360, 280, 49, 25}},
  };
  for (const auto& c : cases) {
    const ControlLayout* control = FindControl(c.id);
    ASSERT_NE(control, nullptr) << c.id;
    EXPECT_EQ(ClientPixels(*control), c.pixels) << U8(control->name);
  }
}

TEST(Layout, FramesEncloseTheirControlsAndEverythingFitsTheClientArea) {
  const Rect client{0, 0, TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips)};
  for (const auto& c : Layout()) {
    const Rect r = ClientPixels(c);
    EXPECT_TRUE(Inside(r, client)) << U8(c.name);
    if (c.container != 0) {
      const ControlLayout* frame = FindControl(c.container);
      ASSERT_NE(frame, nullptr) << U8(c.name);
      EXPECT_EQ(frame->kind, ControlKind::kFrame) << U8(c.name);
      EXPECT_TRUE(Inside(r, ClientPixels(*frame))) << U8(c.name);
    }
  }
}

// The window creates the controls in table order, which becomes the tab order: OK first, then
// the timeout box, the difference, the first host, the first list, the second list and the
// second host. Frames come before their contents so that they are painted beneath them.
TEST(Layout, TableOrderIsTheTabOrder) {
  std::u16string focusable;
  std::set<int> ids;
  std::set<int> framesSeen;
  for (const auto& c : Layout()) {
    EXPECT_TRUE(ids.insert(c.id).second) << U8(c.name);
    if (c.kind == ControlKind::kFrame) framesSeen.insert(c.id);
    if (c.container != 0) {
      EXPECT_EQ(framesSeen.count(c.container), 1u) << U8(c.name);
    }
    if (c.kind == ControlKind::kTextBox || c.kind == ControlKind::kSourceList ||
        c.kind == ControlKind::kButton) {
      focusable += std::u16string(c.name) + u" ";
    }
  }
  EXPECT_EQ(U8(focusable),
            "btOK txtTimeout txtDifference txtFirstTimeServer cmbFirstTimeSource "
            "cmbSecondTimeSource txtSecondTimeServer ");
}

TEST(Layout, Captions) {
  const struct {
    int id;
    const char* caption;
  } cases[] = {
      {kBtOK, "&OK"},
      {kFrameTime, "First Time Source"},
      {kFrame1, "Second Time Source"},
      {kLabel1, "Source"},
      {kLabel4, "Source"},
      {kLabel2, "Time Host:"},
      {kLabel5, "Time Host:"},
      {kLabel3, "Max difference:"},
      {kLblVersion, ""},
  };
  for (const auto& c : cases) {
    ASSERT_NE(FindControl(c.id), nullptr);
    EXPECT_EQ(U8(FindControl(c.id)->caption), c.caption) << c.id;
  }
  EXPECT_EQ(U8(kDialogCaption), "Time server check: External COM check ");
}

}  // namespace
}  // namespace brevun::dialog
