#include "check/check.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "check/failure.h"
#include "check/generic.h"
#include "check/number.h"
#include "check/parameter.h"
#include "check/result_text.h"

namespace brevun {

namespace {

bool FitsInt32(long long v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

std::u16string Quoted(const std::u16string& s) { return u"\"" + s + u"\""; }

// Why a time text did not read as a date-time, in words a host can act on.
std::u16string UnreadableText(std::u16string_view which, const std::u16string& text,
                              const std::u16string& code) {
  std::u16string d(which);
  if (!text.empty()) return d + u" " + Quoted(text) + u" is not a date-time";
  d += u" is empty: source " + Quoted(code);
  const auto source = SourceOf(code);
  if (!source) return d + u" is not a known source code";
  return d + (IsTimeServer(*source) ? u" returned no time" : u" acquires no time");
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
    const auto source = SourceOf(code);
    if (Run(base + step::kIsLocal, [&] { return source == Source::kLocal; })) {
      const LocalSeconds now = Run(base + step::kReadLocalClock, [&] { return platform_.clock.Now(); });
      timeText = Run(base + step::kRenderLocalTime, [&] { return platform_.text.Render(now); });
      return;
    }
    if (Run(base + step::kIsTimeServer, [&] { return source && IsTimeServer(*source); })) {
      Run(base + step::kFetch, [&] {
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
    Run(base + step::kNoTimeNumbering, [] {});
    Run(base + step::kNoTimeNumberingEnd, [] {});
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
  try {
    steps.Run(step::kSaveParameter, [&] { host.SaveCurrentParameter(); });
    steps.Run(step::kCopyTimeout, [&] { host.CopyTimeout(); });
    const auto tagValue = [&](std::u16string_view key) {
      return Generic::GetParameter(host.ParameterText(), key);
    };
    const std::u16string firstServer =
        steps.Run(step::kReadFirstTimeServer, [&] { return tagValue(tag::kFirstTimeServer); });
    const std::u16string secondServer =
        steps.Run(step::kReadSecondTimeServer, [&] { return tagValue(tag::kSecondTimeServer); });
    const double limit = steps.Run(step::kReadLimit, [&] {
      const auto number = ReadLeadingNumber(tagValue(tag::kDifference));
      if (!number) throw Failure(FailureKind::kOverflow);
      return std::floor(*number);
    });
    const std::u16string firstCode =
        steps.Run(step::kReadFirstSource, [&] { return tagValue(tag::kFirstSource); });
    const std::u16string secondCode =
        steps.Run(step::kReadSecondSource, [&] { return tagValue(tag::kSecondSource); });

    const LocalSeconds start = steps.Run(step::kStart, [&] { return platform.clock.Now(); });
    std::u16string firstText;
    std::u16string secondText;
    steps.Acquire(step::kFirstSource, firstCode, firstServer, firstText);
    steps.Acquire(step::kSecondSource, secondCode, secondServer, secondText);
    const LocalSeconds end = steps.Run(step::kEnd, [&] { return platform.clock.Now(); });

    long long acquisition = 0;
    const long long d = steps.Run(step::kDifference, [&] {
      const auto first = platform.text.Parse(firstText);
      if (!first) {
        out.serverFailed = IsTimeServerCode(firstCode);
        throw Failure(UnreadableText(kFirstTimeText, firstText, firstCode));
      }
      const auto second = platform.text.Parse(secondText);
      if (!second) {
        out.serverFailed = IsTimeServerCode(secondCode);
        throw Failure(UnreadableText(kSecondTimeText, secondText, secondCode));
      }
      const long long textPart = *first - *second;
      acquisition = end - start;
      if (!FitsInt32(textPart) || !FitsInt32(acquisition)) throw Failure(FailureKind::kOverflow);
      const long long diff = textPart - acquisition;
      if (!FitsInt32(diff)) throw Failure(FailureKind::kOverflow);
      return diff;
    });
    out.completed = true;
    out.d = d;
    out.acquisition = acquisition;
    out.limit = limit;
    const bool within =
        steps.Run(step::kVerdict, [&] { return WithinLimit(d, limit, acquisition); });
    // The verdict's sentence and a step that only keeps the numbering, on either branch.
    steps.Run(within ? step::kCorrectText : step::kTooBigText, [] {});
    steps.Run(within ? step::kCorrectNumbering : step::kTooBigNumbering, [] {});
    steps.Run(step::kWriteResult,
              [&] { host.WriteResult(ResultText(within, d, firstText, secondText)); });
    return within;
  } catch (const Failure& f) {
    out.failedStep = steps.current();
    host.WriteResult(FailureText(f.description(), steps.current()));
    return false;
  } catch (const std::bad_alloc&) {
    out.failedStep = steps.current();
    host.WriteResult(FailureText(u"Out of memory", steps.current()));
    return false;
  } catch (const std::exception&) {
    out.failedStep = steps.current();
    host.WriteResult(FailureText(u"Internal error", steps.current()));
    return false;
  }
}

}  // namespace brevun
