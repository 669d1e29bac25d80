#include "check/check.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "check/failure.h"
#include "check/generic.h"
#include "check/number.h"
#include "check/text.h"

namespace brevun {

namespace {

struct StepFailure {
  int step;
  std::u16string description;
};

bool FitsInt32(long long v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

// Why a time text did not read as a date-time, in words a host can act on.
std::u16string UnreadableText(const char16_t* which, const std::u16string& text,
                              const std::u16string& code) {
  if (text.empty()) {
    std::u16string d = std::u16string(which) + u" time text is empty: source " + Quoted(code);
    if (code == u"wmi" || code == u"ssh") return d + u" acquires no time";
    if (code == u"time" || code == u"sntp") return d + u" returned no time";
    return d + u" is not a known source code";
  }
  return std::u16string(which) + u" time text " + Quoted(text) + u" is not a date-time";
}

class Steps {
 public:
  Steps(CheckHost& host, const CheckPlatform& platform) : host_(host), platform_(platform) {}

  template <typename F>
  auto Run(int step, F&& f) -> decltype(f()) {
    current_ = step;
    return f();
  }
  int current() const { return current_; }

  // Steps 100-160 or 190-250 for one source.
  void Acquire(int base, const std::u16string& code, const std::u16string& server,
               std::u16string& timeText) {
    if (Run(base, [&] { return code == u"local"; })) {
      const LocalSeconds now = Run(base + 10, [&] { return platform_.clock.Now(); });
      timeText = Run(base + 20, [&] { return platform_.text.Render(now); });
      return;
    }
    if (Run(base + 30, [&] { return code == u"sntp" || code == u"time"; })) {
      Run(base + 40, [&] {
        TimeFetcher* fetcher = host_.Fetcher();
        if (fetcher == nullptr) {
          throw Failure(u"time server sources are not available here");
        }
        const std::int16_t timeout = host_.TimeoutForFetch();
        fetcher->DoRFCProtocol(server, code, timeout, timeText);
      });
      return;
    }
    // "wmi", "ssh" and every other code acquire nothing.
    Run(base + 50, [] {});
    Run(base + 60, [] {});
  }

 private:
  CheckHost& host_;
  const CheckPlatform& platform_;
  int current_ = 10;
};

}  // namespace

bool WithinLimit(long long d, double limit, long long acquisition) {
  const double a = static_cast<double>(std::max(acquisition, 0LL));
  const double lower = -(std::max(limit, 0.0) + 2 * a + 1);
  const auto dd = static_cast<double>(d);
  return dd <= limit && dd >= lower;
}

bool DoCheck(CheckHost& host, const CheckPlatform& platform, CheckOutcome* outcome) {
  CheckOutcome scratch;
  CheckOutcome& out = outcome != nullptr ? *outcome : scratch;
  out = CheckOutcome();
  Steps steps(host, platform);
  const auto isServer = [](const std::u16string& code) { return code == u"time" || code == u"sntp"; };
  try {
    steps.Run(20, [&] { host.SaveCurrentParameter(); });
    steps.Run(30, [&] { host.CopyTimeout(); });
    const auto tag = [&](const char16_t* key) {
      return Generic::GetParameter(host.ParameterText(), key);
    };
    const std::u16string firstServer = steps.Run(40, [&] { return tag(u"FTS"); });
    const std::u16string secondServer = steps.Run(50, [&] { return tag(u"STS"); });
    const double limit =
        steps.Run(60, [&] { return std::floor(ReadLeadingNumber(tag(u"DIS"))); });
    const std::u16string firstCode = steps.Run(70, [&] { return tag(u"FPR"); });
    const std::u16string secondCode = steps.Run(80, [&] { return tag(u"SPR"); });

    const LocalSeconds start = steps.Run(90, [&] { return platform.clock.Now(); });
    std::u16string firstText;
    std::u16string secondText;
    steps.Acquire(100, firstCode, firstServer, firstText);
    steps.Acquire(190, secondCode, secondServer, secondText);
    const LocalSeconds end = steps.Run(280, [&] { return platform.clock.Now(); });

    long long acquisition = 0;
    const long long d = steps.Run(290, [&] {
      const auto first = platform.text.Parse(firstText);
      if (!first) {
        out.serverFailed = isServer(firstCode);
        throw Failure(UnreadableText(u"first", firstText, firstCode));
      }
      const auto second = platform.text.Parse(secondText);
      if (!second) {
        out.serverFailed = isServer(secondCode);
        throw Failure(UnreadableText(u"second", secondText, secondCode));
      }
      const long long textPart = *first - *second;
      acquisition = end - start;
      if (!FitsInt32(textPart) || !FitsInt32(acquisition)) throw Failure(kOverflow);
      const long long diff = textPart - acquisition;
      if (!FitsInt32(diff)) throw Failure(kOverflow);
      return diff;
    });
    out.completed = true;
    out.d = d;
    out.acquisition = acquisition;
    out.limit = limit;
    const bool within = steps.Run(300, [&] { return WithinLimit(d, limit, acquisition); });
    const std::u16string verdictText =
        steps.Run(within ? 310 : 340, [&] {
          return std::u16string(within ? u"Time is correct" : u"Time difference is too big");
        });
    steps.Run(within ? 320 : 350, [] {});
    steps.Run(380, [&] {
      host.WriteResult(verdictText + u"  D=" + NumberWithLeadingBlank(d) + u"  F=" + firstText +
                       u"  S= " + secondText);
    });
    return within;
  } catch (const Failure& f) {
    out.failedStep = steps.current();
    host.WriteResult(u"ERR: " + f.description() + u"(" + NumberWithLeadingBlank(steps.current()) +
                     u")");
    return false;
  } catch (const std::bad_alloc&) {
    out.failedStep = steps.current();
    host.WriteResult(u"ERR: Out of memory(" + NumberWithLeadingBlank(steps.current()) + u")");
    return false;
  } catch (const std::exception&) {
    out.failedStep = steps.current();
    host.WriteResult(u"ERR: Internal error(" + NumberWithLeadingBlank(steps.current()) + u")");
    return false;
  }
}

}  // namespace brevun
