// brevun-check: runs the time comparison check from a command line.
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "check/check.h"
#include "check/failure.h"
#include "check/number.h"
#include "check/text.h"
#include "timesource/clockform.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFalse = 2;
constexpr int kExitUsage = 3;

// The command line plays the object: the parameter and timeout come from the options and the
// result is printed.
class CommandLineHost final : public brevun::CheckHost {
 public:
  CommandLineHost(std::u16string parameter, std::optional<std::u16string> timeout,
                  const brevun::DateTimeText& text)
      : parameter_(std::move(parameter)), timeout_(std::move(timeout)), text_(text) {}

  void SaveCurrentParameter() override { currentParameter_ = parameter_; }
  void CopyTimeout() override { timeoutCopy_ = timeout_; }
  std::u16string ParameterText() override { return parameter_; }
  std::int16_t TimeoutForFetch() override {
    // An absent timeout is an empty value, which converts to 0 (the default).
    return timeoutCopy_ ? brevun::TextToInt16(*timeoutCopy_) : 0;
  }
  // The form, with its network clock, comes into being with the first fetch and serves both.
  brevun::TimeFetcher* Fetcher() override {
    if (!form_) form_ = std::make_unique<brevun::ClockForm>(text_);
    return form_.get();
  }
  void WriteResult(const std::u16string& text) override { result_ = text; }

  const std::u16string& result() const { return result_; }

 private:
  std::u16string parameter_;
  std::optional<std::u16string> timeout_;
  std::optional<std::u16string> timeoutCopy_;
  std::u16string currentParameter_;
  std::u16string result_;
  const brevun::DateTimeText& text_;
  std::unique_ptr<brevun::ClockForm> form_;
};

int Usage(const char* message) {
  if (message != nullptr) std::fprintf(stderr, "brevun-check: %s\n", message);
  std::fprintf(stderr, "usage: brevun-check --parameter STRING [--timeout SECONDS]\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> parameter;
  std::optional<std::string> timeout;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      const std::string prefix = std::string(name) + "=";
      if (arg.rfind(prefix, 0) == 0) return arg.substr(prefix.size());
      if (arg == name && i + 1 < argc) return std::string(argv[++i]);
      return std::nullopt;
    };
    if (arg == "-h" || arg == "--help") {
      Usage(nullptr);
      return kExitOk;
    }
    if (arg.rfind("--parameter", 0) == 0) {
      parameter = value("--parameter");
      if (!parameter) return Usage("--parameter needs a value");
    } else if (arg.rfind("--timeout", 0) == 0) {
      timeout = value("--timeout");
      if (!timeout) return Usage("--timeout needs a value");
    } else {
      return Usage(("unknown argument: " + arg).c_str());
    }
  }
  if (!parameter) return Usage("--parameter is required");

  std::optional<std::u16string> timeoutText;
  if (timeout) timeoutText = brevun::FromUtf8(*timeout);
  brevun::SystemLocalClock clock;
  brevun::IsoDateTimeText text;
  CommandLineHost host(brevun::FromUtf8(*parameter), timeoutText, text);
  const bool verdict = brevun::DoCheck(host, brevun::CheckPlatform{clock, text});
  std::printf("%s\n", brevun::ToUtf8(host.result()).c_str());
  return verdict ? kExitOk : kExitFalse;
}
