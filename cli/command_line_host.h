// The object's part in a check when there is no component: the parameter and the timeout are
// given once, and the form, with its network clock, comes into being with the first fetch and
// serves every later check of this host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "check/check.h"
#include "timesource/clockform.h"

namespace brevun::cli {

class CommandLineHost final : public CheckHost {
 public:
  CommandLineHost(std::u16string parameter, std::int16_t timeout, const DateTimeText& text)
      : parameter_(std::move(parameter)), timeout_(timeout), text_(text) {}

  // Only the component's objects share a current parameter (with the dialog); here nothing
  // would ever read it back.
  void SaveCurrentParameter() override {}
  void CopyTimeout() override { timeoutCopy_ = timeout_; }
  std::u16string ParameterText() override { return parameter_; }
  std::int16_t TimeoutForFetch() override { return timeoutCopy_; }
  TimeFetcher* Fetcher() override {
    if (!form_) form_ = std::make_unique<ClockForm>(text_);
    return form_.get();
  }
  void WriteResult(const std::u16string& text) override { result_ = text; }

  const std::u16string& result() const { return result_; }

 private:
  std::u16string parameter_;
  std::int16_t timeout_;
  std::int16_t timeoutCopy_ = 0;
  std::u16string result_;
  const DateTimeText& text_;
  std::unique_ptr<ClockForm> form_;
};

}  // namespace brevun::cli
