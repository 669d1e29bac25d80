// The comparison check behind zt_docheck, on small interfaces for what the platform provides.
#pragma once

#include <cstdint>
#include <string>

#include "check/datetime.h"

namespace brevun {

// The steps of a check, numbered in tens with gaps as they always were: a failure text names
// the step that failed, and hosts match on those numbers. Some steps do nothing but keep the
// numbering.
namespace step {
inline constexpr int kSaveParameter = 20;
inline constexpr int kCopyTimeout = 30;
inline constexpr int kReadFirstTimeServer = 40;
inline constexpr int kReadSecondTimeServer = 50;
inline constexpr int kReadLimit = 60;
inline constexpr int kReadFirstSource = 70;
inline constexpr int kReadSecondSource = 80;
inline constexpr int kStart = 90;
// Each source's block of steps starts here; the offsets below count from it.
inline constexpr int kFirstSource = 100;
inline constexpr int kSecondSource = 190;
inline constexpr int kIsLocal = 0;
inline constexpr int kReadLocalClock = 10;
inline constexpr int kRenderLocalTime = 20;
inline constexpr int kIsTimeServer = 30;
inline constexpr int kFetch = 40;               // 140 and 230
inline constexpr int kNoTimeNumbering = 50;     // "wmi", "ssh" and unknown codes
inline constexpr int kNoTimeNumberingEnd = 60;  // likewise
inline constexpr int kEnd = 280;
inline constexpr int kDifference = 290;
inline constexpr int kVerdict = 300;
inline constexpr int kCorrectText = 310;
inline constexpr int kCorrectNumbering = 320;
inline constexpr int kTooBigText = 340;
inline constexpr int kTooBigNumbering = 350;
inline constexpr int kWriteResult = 380;
}  // namespace step

// Fetches one time-server time as a date-time text (DoRFCProtocol on the object's form).
// The response receives the date-time text or an error text; a Failure thrown here fails the
// check's fetch step.
class TimeFetcher {
 public:
  virtual ~TimeFetcher() = default;
  virtual bool DoRFCProtocol(const std::u16string& server, const std::u16string& protocol,
                             std::int16_t timeout, std::u16string& response) = 0;
};

// What the check reads from and writes to the object that runs it. Each member may throw
// Failure; the check turns that into its failure text with the step that was running.
class CheckHost {
 public:
  virtual ~CheckHost() = default;
  // Step 20: copy zt_parameter into the module-level CurrentParameter.
  virtual void SaveCurrentParameter() = 0;
  // Step 30: copy zt_timeout for the fetches.
  virtual void CopyTimeout() = 0;
  // Steps 40 to 80: zt_parameter as text, converted anew for every tag.
  virtual std::u16string ParameterText() = 0;
  // Steps 140 and 230: the timeout copy as a 16-bit whole number.
  virtual std::int16_t TimeoutForFetch() = 0;
  // Steps 140 and 230: the object's form, which offers the fetch; nullptr when it cannot.
  virtual TimeFetcher* Fetcher() = 0;
  // Steps 380 and 470: zt_result through the object's own property put.
  virtual void WriteResult(const std::u16string& text) = 0;
};

struct CheckPlatform {
  LocalClock& clock;
  const DateTimeText& text;
};

// What a caller beyond the result text may want to know of one check (the command line's
// thresholds and states).
struct CheckOutcome {
  int failedStep = 0;         // 0 when the check completed
  bool completed = false;     // D, acquisition and limit are set
  long long d = 0;            // the difference D
  long long acquisition = 0;  // whole seconds the two acquisitions took
  double limit = 0;           // the floored limit
  // At step 290: the text that did not read as a date-time came from a time server ("time"
  // or "sntp"), so the server could not be asked or did not answer usefully.
  bool serverFailed = false;
};

// Runs one check: returns the verdict, or false when a step failed; the result or failure text
// goes to host.WriteResult exactly once. Only a failure of the failure path's own write
// escapes (as Failure or whatever the host threw).
bool DoCheck(CheckHost& host, const CheckPlatform& platform, CheckOutcome* outcome = nullptr);

// The verdict of a difference D against a limit, both sides: D <= limit, and D no lower than
// what clocks that agree within the limit can show given the acquisition time (in seconds).
bool WithinLimit(long long d, double limit, long long acquisition);

}  // namespace brevun
