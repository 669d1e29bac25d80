// The network clock that each form hosts: settings put one by one, a query that blocks until
// it ends, the time it obtained, and an error notification for servers that answer without
// a usable time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "check/datetime.h"
#include "check/parameter.h"

namespace brevun {

// The clock as the form drives it, in the order the form calls the operations. Any operation
// may throw Failure; its description is what the form reports.
class ClockControl {
 public:
  // The first argument is a code (kNotifyKissOfDeath, kNotifyUnsynchronised), the second a
  // description for a person. Called on the querying thread before Query returns.
  using ErrorHandler = std::function<void(int code, const std::u16string& description)>;

  virtual ~ClockControl() = default;
  // Whole seconds; 0 means 10 s.
  virtual void PutTimeout(std::int16_t seconds) = 0;
  // The protocol as the control takes it, a selector (ProtocolSelector).
  virtual void PutProtocol(std::int32_t selector) = 0;
  virtual void PutTimeHost(const std::u16string& host) = 0;
  virtual void Query() = 0;
  // The time the last query obtained, on the local wall clock; empty when it obtained none.
  virtual std::optional<LocalSeconds> Time() const = 0;
  virtual void SetErrorHandler(ErrorHandler handler) = 0;
};

// The control's protocol selector for a time-server source: 0 selects the Time Protocol
// (RFC 868), 1 SNTP.
constexpr std::int32_t ProtocolSelector(Source protocol) {
  return protocol == Source::kTime ? 0 : 1;
}

class NetClock final : public ClockControl {
 public:
  // Turns a server's time (seconds since the Unix epoch, UTC) into the local wall clock. It
  // must follow the same zone rules as the local clock the time is compared with.
  using ToLocal = LocalSeconds (*)(std::int64_t unixSeconds);

  explicit NetClock(ToLocal toLocal = &UtcToLocal) : toLocal_(toLocal) {}

  // Refuses a negative timeout.
  void PutTimeout(std::int16_t seconds) override;
  // Refuses a selector that names no protocol (other than 0 and 1).
  void PutProtocol(std::int32_t selector) override;
  // Taken as it comes; the query reads it (see ParseTimeHost).
  void PutTimeHost(const std::u16string& host) override;
  // Throws Failure when the query fails; raises the notification when the server answered
  // with a kiss-o'-death or as unsynchronised.
  void Query() override;
  std::optional<LocalSeconds> Time() const override { return time_; }
  void SetErrorHandler(ErrorHandler handler) override { handler_ = std::move(handler); }

  // The server's clock minus ours, in microseconds, as the last query measured it.
  std::optional<std::int64_t> OffsetMicros() const { return offsetMicros_; }

 private:
  ToLocal toLocal_;
  std::int16_t timeout_ = 0;
  Source protocol_ = Source::kSntp;
  // Empty until a host is put: the clock never asks a server nobody named.
  std::u16string host_;
  std::optional<LocalSeconds> time_;
  std::optional<std::int64_t> offsetMicros_;
  ErrorHandler handler_;
};

}  // namespace brevun
