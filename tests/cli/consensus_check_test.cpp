// Several servers through NTS, with the network a table: what the key establishments showed
// reaches the line and the state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/consensus.h"

namespace brevun::cli {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;  // Unix seconds
constexpr std::int64_t kDay = 86400;

// A server that answered in step with us, its certificate good for `days` more days.
ConsensusAnswer InStep(const char16_t* server, std::int64_t days) {
  ConsensusAnswer a;
  QueryOutcome o;
  o.server = server;
  o.stratum = 2;
  o.delayMicros = 100;
  a.server.outcome = o;
  a.nts = brevun::cli::NtsFacts{3000, kNow + days * kDay + 60};
  return a;
}

ConsensusAnswer Refused() {
  ConsensusAnswer a;
  a.server.failure = QueryFailure(QueryFailure::Kind::kAuthentication, u"not authentic");
  return a;
}

ConsensusRequest Request(std::optional<int> certWarningDays, bool quiet = false) {
  ConsensusRequest r;
  r.hosts = {TimeHost{u"a.test", 4460}, TimeHost{u"b.test", 4460}, TimeHost{u"c.test", 4461}};
  r.nts = true;
  r.certWarningDays = certWarningDays;
  r.quiet = quiet;
  r.warning = *brevun::cli::ThresholdRange::Parse("0.5", nullptr);
  r.critical = *brevun::cli::ThresholdRange::Parse("1", nullptr);
  r.utcMicros = [] { return kNow * 1'000'000; };
  return r;
}

ConsensusNetwork Network(std::vector<ConsensusAnswer> answers,
                         std::vector<ConsensusServer>* asked = nullptr) {
  ConsensusNetwork n;
  n.query = [=](const std::vector<ConsensusServer>& servers, const QueryOptions&) {
    if (asked) *asked = servers;
    std::vector<ConsensusAnswer> out = answers;
    for (std::size_t i = 0; i < out.size(); ++i) out[i].server.host = servers.at(i).host;
    return out;
  };
  return n;
}

TEST(ConsensusNts, CertificatesExpiringWithinTheWarningDaysWarnAndEachServerKeepsItsName) {
  std::vector<ConsensusServer> asked;
  const auto network =
      Network({InStep(u"192.0.2.1:123", 40), InStep(u"192.0.2.2:123", 5), Refused()}, &asked);
  const auto warned = brevun::cli::CheckConsensus(Request(7), network);
  EXPECT_EQ(warned.state, State::kWarning);
  EXPECT_EQ(warned.line.substr(0, warned.line.find('|')),
            "Offset 0.000000 seconds, 2 of 3 servers agree (certificate expires: b.test in 5 days; "
            "unreachable: c.test:4461 (not authentic))");
  EXPECT_NE(warned.line.find(" 'ke_time_a.test'=0.003000s"), std::string::npos) << warned.line;
  // The certificate of each server is checked against the name it was given as.
  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[2].name, u"c.test");
  EXPECT_EQ(brevun::cli::CheckConsensus(Request(5), network).state, State::kOk);
}

TEST(ConsensusNts, QuietHidesSilenceButNotARefusalToAuthenticate) {
  ConsensusAnswer silent;
  silent.server.failure = QueryFailure(QueryFailure::Kind::kTimeout, u"no answer");
  EXPECT_EQ(brevun::cli::CheckConsensus(Request({}, true), Network({silent, silent, silent})).state,
            State::kUnknown);
  EXPECT_EQ(
      brevun::cli::CheckConsensus(Request({}, true), Network({silent, Refused(), silent})).state,
      State::kCritical);
}

// A server whose certificate was out of date by our clock but not at its own authenticated time
// is far from us, or holds an old key: the line says so and is never OK.
TEST(ConsensusNts, ACertificateOutOfDateOnlyByOurClockIsNeverOk) {
  const auto outOfDate = [](ConsensusAnswer a) {
    a.nts->certificateOutOfDateHere = true;
    return a;
  };
  const struct {
    std::vector<ConsensusAnswer> answers;
    std::string line;
  } cases[] = {
      {{InStep(u"192.0.2.1:123", 40), InStep(u"192.0.2.2:123", 5),
        outOfDate(InStep(u"192.0.2.3:123", 40))},
       "Offset 0.000000 seconds, 3 of 3 servers agree (certificate only looked out of date by "
       "this machine's clock: c.test:4461)"},
      {{outOfDate(InStep(u"192.0.2.1:123", 40)), outOfDate(InStep(u"192.0.2.2:123", 5)), Refused()},
       "Offset 0.000000 seconds, 2 of 3 servers agree (certificates only looked out of date by "
       "this machine's clock: a.test, b.test; unreachable: c.test:4461 (not authentic))"},
  };
  for (const auto& c : cases) {
    const auto v = brevun::cli::CheckConsensus(Request({}), Network(c.answers));
    EXPECT_EQ(v.state, State::kCritical) << c.line;
    EXPECT_EQ(v.line.substr(0, v.line.find('|')), c.line);
  }
}

}  // namespace
}  // namespace brevun::cli
