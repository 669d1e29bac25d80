#include "cli/plugin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/text.h"

namespace {

using brevun::cli::Options;
using brevun::cli::ParseArguments;
using brevun::cli::State;
using brevun::cli::UsageError;

// The parameter string is what -H composes for the component's check (--print-parameter,
// --com, --configure); -H on its own measures the offset instead.
std::string ParameterOf(std::vector<std::string> args) {
  args.push_back("--print-parameter");
  return brevun::ToUtf8(brevun::cli::ParameterFor(ParseArguments(args)));
}

TEST(Plugin, OptionsComposeTheDialogsCanonicalString) {
  const struct {
    std::vector<std::string> args;
    const char* parameter;
  } cases[] = {
      {{"-H", "ntp.example"}, "#FTS=ntp.example#FPR=sntp#STS=#SPR=local#DIS=120#"},
      {{"--host", " alpha ", "--protocol", "time", "-c", "30"},
       "#FTS=alpha#FPR=time#STS=#SPR=local#DIS=30#"},
      {{"-H", "a:1230", "--second-host", "[::1]:123", "-c", "2.50"},
       "#FTS=a:1230#FPR=sntp#STS=[::1]:123#SPR=sntp#DIS=2.5#"},
      {{"-H", "a", "--second-host", "b", "--second-protocol", "time", "--critical=0.5"},
       "#FTS=a#FPR=sntp#STS=b#SPR=time#DIS=.5#"},
      {{"-H", "a", "--second-protocol", "local", "-c", "-3"},
       "#FTS=a#FPR=sntp#STS=#SPR=local#DIS=-3#"},
      {{"-P", "#FPR=local#SPR=local#"}, "#FPR=local#SPR=local#"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParameterOf(c.args), c.parameter) << c.args[1];
  }
}

TEST(Plugin, BadArgumentsAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus"},
      {"-H"},
      {"-H", "a", "--protocol", "SNTP"},
      {"-H", "a", "--protocol", "local"},
      {"-H", "a", "-w", "ten"},
      {"-H", "a", "-c", "10s"},
      {"-H", "a", "-c", "1E999"},
      {"-H", "a", "-t", "0"},
      {"-H", "a", "-t", "1.5"},
      {"-H", "a", "-t", "99999"},
      {"-P", "#FPR=local#", "-H", "a"},
      {"-P", "#FPR=local#", "-c", "5"},
      {"-H", "a", "--second-host", "b", "--second-protocol", "local"},
      {"-H", "a", "--print-parameter=yes"},
  };
  for (const auto& args : cases) {
    EXPECT_THROW(ParseArguments(args), UsageError) << (args.empty() ? "<none>" : args.back());
  }
  EXPECT_TRUE(ParseArguments({"-h"}).help);
  // --configure opens the dialog on the string the options compose, the limit included.
  EXPECT_EQ(brevun::ToUtf8(brevun::cli::ParameterFor(
                ParseArguments({"--configure", "-H", "a", "--protocol", "time", "-c", "30"}))),
            "#FTS=a#FPR=time#STS=#SPR=local#DIS=30#");
  EXPECT_TRUE(ParseArguments({"--version"}).version);
  EXPECT_EQ(ParseArguments({"-H", "a", "-t", "7"}).timeout, 7);
}

TEST(Plugin, StatesFromTheCheck) {
  brevun::CheckOutcome done;
  done.completed = true;
  done.acquisition = 0;
  const auto judge = [&](bool verdict, long long d, std::optional<double> warning) {
    done.d = d;
    return brevun::cli::Judge(verdict, done, warning);
  };
  EXPECT_EQ(judge(true, 0, 60.0), State::kOk);
  EXPECT_EQ(judge(true, 60, 60.0), State::kOk);
  EXPECT_EQ(judge(true, 61, 60.0), State::kWarning);
  EXPECT_EQ(judge(true, -62, 60.0), State::kWarning);  // lagging counts as much as leading
  EXPECT_EQ(judge(true, 61, 60.9), State::kWarning);   // the warning is floored like the limit
  EXPECT_EQ(judge(true, 500, std::nullopt), State::kOk);
  EXPECT_EQ(judge(false, 121, 60.0), State::kCritical);

  brevun::CheckOutcome failed;
  failed.failedStep = 290;
  failed.serverFailed = true;
  EXPECT_EQ(brevun::cli::Judge(false, failed, 60.0), State::kCritical);
  failed.serverFailed = false;
  EXPECT_EQ(brevun::cli::Judge(false, failed, 60.0), State::kUnknown);
  failed.failedStep = 60;
  EXPECT_EQ(brevun::cli::Judge(false, failed, 60.0), State::kUnknown);
}

TEST(Plugin, OutputLineAndPerformanceData) {
  brevun::CheckOutcome done;
  done.completed = true;
  done.d = -3;
  done.limit = 120;
  EXPECT_EQ(
      brevun::cli::OutputLine(State::kOk, u"Time is correct  D=-3  F=x  S= y", done, 60.0, 120.0),
      "TIME OK - Time is correct  D=-3  F=x  S= y|offset=-3s;60;120");
  EXPECT_EQ(brevun::cli::OutputLine(State::kCritical, u"Time difference is too big  D= 9", done,
                                    std::nullopt, std::nullopt),
            "TIME CRITICAL - Time difference is too big  D= 9|offset=-3s;;120");

  brevun::CheckOutcome failed;
  failed.failedStep = 290;
  EXPECT_EQ(brevun::cli::OutputLine(State::kUnknown, u"ERR: a|b\nc( 290)", failed, 1.5, 2.0),
            "TIME UNKNOWN - ERR: a/b c( 290)");
}

TEST(Plugin, QueriesShareTheRunsTimeout) {
  EXPECT_EQ(brevun::cli::PerQueryTimeout(10, 1), 9);
  EXPECT_EQ(brevun::cli::PerQueryTimeout(10, 2), 4);
  EXPECT_EQ(brevun::cli::PerQueryTimeout(1, 2), 1);
  EXPECT_EQ(brevun::cli::NetworkSources(u"#FPR=sntp#SPR=time#"), 2);
  EXPECT_EQ(brevun::cli::NetworkSources(u"#FPR=SNTP#SPR=local#"), 0);
}

}  // namespace
