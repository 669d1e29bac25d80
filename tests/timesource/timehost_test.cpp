#include "timesource/timehost.h"

#include <gtest/gtest.h>

#include "check/failure.h"
#include "check/text.h"

namespace brevun {
namespace {

TEST(TimeHost, ReadsEveryFormWithItsPort) {
  struct Case {
    const char16_t* text;
    const char16_t* host;
    std::uint16_t port;
    const char16_t* shown;
  };
  const Case cases[] = {
      {u"ntp.example.org", u"ntp.example.org", 123, u"ntp.example.org:123"},
      {u"ntp.example.org:1123", u"ntp.example.org", 1123, u"ntp.example.org:1123"},
      {u"127.0.0.1:65535", u"127.0.0.1", 65535, u"127.0.0.1:65535"},
      {u"[::1]:37", u"::1", 37, u"[::1]:37"},
      {u"[::1]", u"::1", 123, u"[::1]:123"},
      {u"::1", u"::1", 123, u"[::1]:123"},
      {u"fe80::1:2", u"fe80::1:2", 123, u"[fe80::1:2]:123"},
      {u"  host:9  ", u"host", 9, u"host:9"},
  };
  for (const Case& c : cases) {
    const TimeHost h = ParseTimeHost(c.text, 123);
    EXPECT_EQ(ToUtf8(h.host), ToUtf8(c.host)) << ToUtf8(c.text);
    EXPECT_EQ(h.port, c.port) << ToUtf8(c.text);
    EXPECT_EQ(ToUtf8(h.Text()), ToUtf8(c.shown)) << ToUtf8(c.text);
  }
  EXPECT_EQ(ParseTimeHost(u"host", kTimeProtocolPort).port, 37);
}

TEST(TimeHost, RefusesWhatNamesNoServer) {
  struct Case {
    const char16_t* text;
    const char16_t* description;
  };
  const Case cases[] = {
      {u"", u"No time host given"},
      {u"   ", u"No time host given"},
      {u"[::1", u"Invalid time host \"[::1\""},
      {u"[]:123", u"Invalid time host \"[]:123\""},
      {u"[::1]123", u"Invalid time host \"[::1]123\""},
      {u":123", u"Invalid time host \":123\""},
      {u"host:", u"Invalid port in time host \"host:\""},
      {u"host:0", u"Invalid port in time host \"host:0\""},
      {u"host:65536", u"Invalid port in time host \"host:65536\""},
      {u"host:99999999999999999999", u"Invalid port in time host \"host:99999999999999999999\""},
      {u"host:12a", u"Invalid port in time host \"host:12a\""},
      {u"host:-1", u"Invalid port in time host \"host:-1\""},
      {u"[::1]:", u"Invalid port in time host \"[::1]:\""},
  };
  for (const Case& c : cases) {
    try {
      ParseTimeHost(c.text, 123);
      ADD_FAILURE() << "accepted " << ToUtf8(c.text);
    } catch (const Failure& f) {
      EXPECT_EQ(ToUtf8(f.description()), ToUtf8(c.description));
    }
  }
}

// The resolver reads a name up to its first NUL: "127.0.0.1<NUL>junk" must not quietly ask
// 127.0.0.1. No host name holds a control character, and the description shows none either.
TEST(TimeHost, RefusesControlCharactersAndQuotesThemHarmlessly) {
  const std::u16string texts[] = {
      std::u16string(u"127.0.0.1\0junk", 14),
      std::u16string(u"[::1\0]:123", 10),
      u"host\n:123",
      u"ho\x7fst",
      u"\tntp.example.org",
  };
  for (const std::u16string& text : texts) {
    try {
      ParseTimeHost(text, 123);
      ADD_FAILURE() << "accepted a host with a control character";
    } catch (const Failure& f) {
      const std::u16string& d = f.description();
      EXPECT_EQ(d.rfind(u"Invalid time host \"", 0), 0u) << ToUtf8(d);
      for (const char16_t c : d) EXPECT_GE(c, 0x20) << ToUtf8(d);
    }
  }
}

}  // namespace
}  // namespace brevun
