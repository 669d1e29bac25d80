#include "dialog/dialog_model.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "check/text.h"
#include "dialog/help_file.h"
#include "dialog/source_table.h"
#include "dialog/version_line.h"
#include "tests/project_version.h"

namespace brevun::dialog {
namespace {

std::string U8(std::u16string_view s) { return ToUtf8(s); }

TEST(SourceTable, PositionsGiveTheirCodesAndEverythingElseGivesLocal) {
  const struct {
    int position;
    const char16_t* code;
  } cases[] = {{0, u"local"}, {1, u"time"},   {2, u"sntp"},  {3, u"wmi"},
               {4, u"ssh"},   {-1, u"local"}, {5, u"local"}, {-32768, u"local"}};
  for (const auto& c : cases) {
    EXPECT_EQ(U8(CodeOf(SourceAt(c.position))), U8(c.code)) << "position " << c.position;
  }
}

TEST(SourceTable, CodesMapToPositionsExactly) {
  const struct {
    const char16_t* code;
    int position;
  } cases[] = {{u"local", 0}, {u"time", 1},  {u"sntp", 2}, {u"wmi", 3},
               {u"ssh", 4},   {u"SNTP", 0},  {u"Time", 0}, {u"", 0},
               {u" sntp", 0}, {u"sntp ", 0}, {u"ntp", 0},  {u"sntpx", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(SourcePosition(c.code), c.position) << U8(c.code);
  }
}

TEST(SourceTable, CaptionsInListOrder) {
  EXPECT_EQ(U8(SourceCaption(0)), "Local system");
  EXPECT_EQ(U8(SourceCaption(1)), "Time server (time protocol)");
  EXPECT_EQ(U8(SourceCaption(2)), "Time server (SNTP protocol)");
  EXPECT_EQ(U8(SourceCaption(3)), "Windows server (WMI protocol)");
  EXPECT_EQ(U8(SourceCaption(4)), "SSH based");
  EXPECT_TRUE(SourceCaption(5).empty());
  EXPECT_TRUE(SourceCaption(-1).empty());
}

TEST(NormalizeDifference, StoresTheLeadingNumberAsPlainDecimalText) {
  const struct {
    const char16_t* typed;
    const char* stored;
  } cases[] = {
      {u"60", "60"},
      {u"60 s", "60"},
      {u"1 000", "1000"},
      {u"1,5", "1"},
      {u"2.50", "2.5"},
      {u"0.5", ".5"},
      {u"-3", "-3"},
      {u"&H10", "16"},
      {u"&o17", "15"},
      {u"abc", "0"},
      {u"", "0"},
      {u"\t 7\n", "7"},
      {u"-0", "0"},
      {u"1E-400", "0"},
      {u"2.5D1", "25"},
      {u"+4", "4"},
      {u"123456789012345678", "1.23456789012346E+17"},
  };
  for (const auto& c : cases) {
    const auto stored = NormalizeDifference(c.typed);
    ASSERT_TRUE(stored.has_value()) << U8(c.typed);
    EXPECT_EQ(U8(*stored), c.stored) << U8(c.typed);
  }
}

TEST(NormalizeDifference, NumbersBeyondADoubleGiveNoValue) {
  for (const char16_t* typed : {u"1E400", u"-1E400", u"9D999", u"1e309 s"}) {
    EXPECT_FALSE(NormalizeDifference(typed).has_value()) << U8(typed);
  }
}

DialogValues Values(std::u16string first, int firstSource, std::u16string second, int secondSource,
                    std::u16string difference) {
  DialogValues v;
  v.firstTimeServer = std::move(first);
  v.firstSource = firstSource;
  v.secondTimeServer = std::move(second);
  v.secondSource = secondSource;
  v.difference = std::move(difference);
  return v;
}

TEST(ComposeParameter, WritesTheFiveTagsInCanonicalOrder) {
  const struct {
    const char* what;
    DialogValues values;
    const char* parameter;
  } cases[] = {
      {"as loaded", DialogValues{}, "#FTS=#FPR=local#STS=#SPR=local#DIS=0#"},
      {"both servers", Values(u"alpha", 2, u"beta", 1, u"30"),
       "#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#"},
      {"blanks around hosts go, inner blanks stay", Values(u"  al pha ", 1, u" beta", 2, u"60"),
       "#FTS=al pha#FPR=time#STS=beta#SPR=sntp#DIS=60#"},
      {"only spaces are trimmed", Values(u"\talpha\t", 0, u"", 0, u""),
       "#FTS=\talpha\t#FPR=local#STS=#SPR=local#DIS=0#"},
      {"nothing selected and out of range give local", Values(u"", -1, u"", 9, u"0.5"),
       "#FTS=#FPR=local#STS=#SPR=local#DIS=.5#"},
      {"wmi and ssh", Values(u"x", 3, u"y", 4, u"60 s"), "#FTS=x#FPR=wmi#STS=y#SPR=ssh#DIS=60#"},
  };
  for (const auto& c : cases) {
    const Composed composed = ComposeParameter(c.values);
    ASSERT_TRUE(composed.ok()) << c.what;
    EXPECT_EQ(U8(composed.parameter), c.parameter) << c.what;
  }
}

TEST(ComposeParameter, AnOverflowingDifferenceComposesNothingAndSaysWhy) {
  const Composed composed = ComposeParameter(Values(u"alpha", 2, u"", 0, u"1E400"));
  EXPECT_FALSE(composed.ok());
  EXPECT_TRUE(composed.parameter.empty());
  EXPECT_NE(U8(composed.problem).find("difference"), std::string::npos);
}

TEST(ComposeParameter, AHostWithATagMarkComposesNothingAndNamesItsBox) {
  const struct {
    const char* what;
    DialogValues values;
    ProblemBox box;
    const char* names;
  } cases[] = {
      {"a tag smuggled into the first host", Values(u"ntp.example#DIS=99999", 2, u"", 0, u"2"),
       ProblemBox::kFirstTimeServer, "first"},
      {"a lone mark in the second host", Values(u"alpha", 2, u"#", 1, u"2"),
       ProblemBox::kSecondTimeServer, "second"},
      {"a mark among blanks that trimming would keep", Values(u"alpha", 2, u" b# ", 1, u"2"),
       ProblemBox::kSecondTimeServer, "second"},
      // Both boxes wrong and the difference too: the first box is named, the user fixes one
      // thing at a time.
      {"both hosts and the difference", Values(u"a#", 2, u"b#", 1, u"1E400"),
       ProblemBox::kFirstTimeServer, "first"},
  };
  for (const auto& c : cases) {
    const Composed composed = ComposeParameter(c.values);
    EXPECT_FALSE(composed.ok()) << c.what;
    EXPECT_TRUE(composed.parameter.empty()) << c.what;
    EXPECT_EQ(composed.box, c.box) << c.what;
    const std::string problem = U8(composed.problem);
    EXPECT_NE(problem.find(c.names), std::string::npos) << c.what << ": " << problem;
    EXPECT_NE(problem.find("\"#\""), std::string::npos) << c.what << ": " << problem;
  }
  // A host with no mark next to an overflowing difference: the difference is the problem.
  EXPECT_EQ(ComposeParameter(Values(u"a", 2, u"b", 1, u"1E400")).box, ProblemBox::kDifference);
}

TEST(FillFromParameter, ShowsTheTagsAndRoundTripsThroughOk) {
  const struct {
    const char* what;
    const char16_t* parameter;
    DialogValues shown;  // timeout stays as it was: empty
    const char* afterOk;
  } cases[] = {
      {"canonical", u"#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#",
       Values(u"alpha", 2, u"beta", 1, u"30"), "#FTS=alpha#FPR=sntp#STS=beta#SPR=time#DIS=30#"},
      {"codes in capitals are no codes", u"#FTS=alpha#FPR=SNTP#STS=#SPR=Time#DIS=1#",
       Values(u"alpha", 0, u"", 0, u"1"), "#FTS=alpha#FPR=local#STS=#SPR=local#DIS=1#"},
      {"any order, extra tags, no closing mark",
       u"junk#XTR=1#DIS=5 seconds#SPR=ssh#PRT=\"q\"#fts= a #STS=b",
       Values(u" a ", 0, u"b", 4, u"5 seconds"), "#FTS=a#FPR=local#STS=b#SPR=ssh#DIS=5#"},
      {"one blank counts as a parameter", u" ", Values(u"", 0, u"", 0, u""),
       "#FTS=#FPR=local#STS=#SPR=local#DIS=0#"},
  };
  for (const auto& c : cases) {
    // Start from values that differ from every expectation, so a field left untouched shows.
    DialogValues v = Values(u"old1", 3, u"old2", 3, u"old3");
    FillFromParameter(v, c.parameter);
    EXPECT_EQ(U8(v.firstTimeServer), U8(c.shown.firstTimeServer)) << c.what;
    EXPECT_EQ(U8(v.secondTimeServer), U8(c.shown.secondTimeServer)) << c.what;
    EXPECT_EQ(U8(v.difference), U8(c.shown.difference)) << c.what;
    EXPECT_EQ(v.firstSource, c.shown.firstSource) << c.what;
    EXPECT_EQ(v.secondSource, c.shown.secondSource) << c.what;
    EXPECT_EQ(U8(ComposeParameter(v).parameter), c.afterOk) << c.what;
  }
}

TEST(FillFromParameter, AnEmptyParameterLeavesTheControlsAsTheyAre) {
  const DialogValues before = Values(u"kept", 2, u"also kept", -1, u"7 s");
  DialogValues v = before;
  FillFromParameter(v, u"");
  EXPECT_EQ(v, before);
}

TEST(FillForEditing, TrimsOnlySpacesAroundTheTimeout) {
  DialogValues v;
  FillForEditing(v, u"  15  ", u"");
  EXPECT_EQ(U8(v.timeout), "15");
  FillForEditing(v, u"\t15 ", u"#DIS=2#");
  EXPECT_EQ(U8(v.timeout), "\t15");
  EXPECT_EQ(U8(v.difference), "2");
}

TEST(VersionLine, DecimalNumbersWithSingleBlanks) {
  EXPECT_EQ(U8(VersionLine(2, 0, 17)), "version 2.0 build 17");
  EXPECT_EQ(U8(VersionLine(10, 12, 3456)), "version 10.12 build 3456");
  // The build's own line follows the project version this release carries.
  EXPECT_EQ(U8(ComponentVersionLine()), BREVUN_EXPECTED_VERSION_LINE);
}

TEST(HelpFile, StandsBesideTheModule) {
  EXPECT_EQ(U8(HelpFileBeside(u"C:\\Program Files\\brevun\\brevun.dll")),
            "C:\\Program Files\\brevun\\brevun.chm");
  EXPECT_EQ(U8(HelpFileBeside(u"Z:/work/build/host.exe")), "Z:/work/build/brevun.chm");
  EXPECT_EQ(U8(HelpFileBeside(u"brevun.dll")), "brevun.chm");
}

}  // namespace
}  // namespace brevun::dialog
