#include "check/generic.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "check/text.h"

namespace {

using brevun::FromUtf8;
using brevun::Generic::GetParameter;

// Q stands for a double quote so the table reads like the texts it tests.
std::u16string Q(const char* s) {
  std::u16string out = FromUtf8(s);
  for (auto& c : out) {
    if (c == u'Q') c = u'"';
  }
  return out;
}

struct PlainCase {
  const char* text;
  const char* key;
  const char* expected;
};

TEST(GetParameter, PlainModeTable) {
  const PlainCase cases[] = {
      {"", "FTS", ""},
      {"no tags at all", "FTS", ""},
      {"#STS=#", "STS", ""},
      {"#FTS=", "FTS", ""},
      {"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#", "FTS", "alpha"},
      {"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#", "FPR", "sntp"},
      {"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#", "STS", ""},
      {"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#", "SPR", "local"},
      {"#FTS=alpha#FPR=sntp#STS=#SPR=local#DIS=60#", "DIS", "60"},
      {"#DIS=60#FTS=alpha", "FTS", "alpha"},
      {"#DIS=60#FTS=alpha", "DIS", "60"},
      {"junk#fts=Alpha#FTS=beta#", "FTS", "Alpha"},
      {"junk#fts=Alpha#FTS=beta#", " fts ", "Alpha"},
      {"#FTS= spaced #", "FTS", " spaced "},
      {"# FTS=x#", "FTS", ""},
      {"#FTS =x#", "FTS", ""},
      {"#FTS=al#pha#DIS=5#", "FTS", "al"},
      {"#FTS=a#DIS=5#FPR=local#DIS=7#", "DIS", "5"},
      {"#FTS=QalphaQ#", "FTS", "QalphaQ"},
      {"#PRT=abc#", "PRT", "abc"},
      {"#FTS=ÿx#", "FTS", "ÿx"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetParameter(Q(c.text), FromUtf8(c.key)), Q(c.expected))
        << "text " << c.text << " key " << c.key;
  }
}

struct FlagCase {
  const char* text;
  const char* key;
  bool flagIn;
  const char* expected;
  bool flagOut;
};

TEST(GetParameter, QuotedModeAndTheAutomaticQuotesOfPrt) {
  const FlagCase cases[] = {
      {"#FTS=QalphaQ#", "FTS", false, "QalphaQ", false},
      {"#FTS=Qal#phaQ#", "FTS", true, "al#pha", true},
      {"#FTS=alpha#", "FTS", true, "", true},
      {"#PRT=Qa#bQ#DIS=5#", "PRT", false, "a#b", true},
      {"#PRT=abc#", "PRT", false, "abc", false},
      {"#PRT=QabcQ", "PRT", false, "abcQ", true},
      {"#PRT=QQ#", "PRT", false, "", true},
      {"#PRT=Qx#FTS=yQ#FTS=z#", "FTS", false, "yQ", false},
      {"#prt=Qx#", "prt", false, "x#", true},
  };
  for (const auto& c : cases) {
    std::optional<bool> flag = c.flagIn;
    const auto result = GetParameter(Q(c.text), FromUtf8(c.key), flag);
    ASSERT_TRUE(result.has_value()) << c.text;
    EXPECT_EQ(*result, Q(c.expected)) << "text " << c.text << " key " << c.key;
    EXPECT_EQ(flag, std::optional<bool>(c.flagOut)) << "text " << c.text;
  }
}

TEST(GetParameter, OmittedFlagReadsPlainAndDropsALeadingQuote) {
  std::optional<bool> omitted;
  EXPECT_EQ(GetParameter(Q("#FTS=Qal#pha#"), u"FTS", omitted), Q("al"));
  EXPECT_FALSE(omitted.has_value());

  // Step 5 may still switch an omitted flag to the quoted mode.
  std::optional<bool> prt;
  EXPECT_EQ(GetParameter(Q("#PRT=Qa#bQ#"), u"PRT", prt), Q("a#b"));
  EXPECT_EQ(prt, std::optional<bool>(true));
}

TEST(GetParameter, KeyHoldingAHashIsUnsetNotEmpty) {
  std::optional<bool> flag = false;
  EXPECT_FALSE(GetParameter(u"#A#B=x#", u"A#B", flag).has_value());
  EXPECT_EQ(GetParameter(u"#A#B=x#", u"A#B"), u"");
}

TEST(GetParameter, UpperCasingKeepsPositions) {
  // Latin-1 and Latin Extended-A letters fold to one unit each, so the value cut from the
  // original text stays aligned with the marker found in the upper-cased copy.
  EXPECT_EQ(GetParameter(u"\u00e9\u0101\u00ff#fts=v\u00e9#", u"FTS"), u"v\u00e9");
  EXPECT_EQ(brevun::Upper(u"a\u00e9\u00ff\u0101\u013a\u017e\u03c9\u0436"),
            u"A\u00c9\u0178\u0100\u0139\u017d\u03a9\u0416");
}

}  // namespace
