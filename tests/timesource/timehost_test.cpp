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

}  // namespace
}  // namespace brevun
