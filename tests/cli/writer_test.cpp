// The writers' own rules: what a JSON string and an exposition label value escape, and a file
// replaced at once. What the real parsers make of whole documents is tested end to end
// (output_test.sh).
#include "output/writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/arguments.h"
#include "output/json.h"
#include "output/openmetrics.h"

namespace brevun::output {
namespace {

TEST(Writers, EscapeWhatTheirFormatCannotHold) {
  const struct {
    std::string text;
    std::string json;
    std::string label;
  } cases[] = {
      {"127.0.0.1", "\"127.0.0.1\"", "127.0.0.1"},
      {"a\"b\\c", "\"a\\\"b\\\\c\"", "a\\\"b\\\\c"},
      {"line\nbreak\r\t\x01\x7f", "\"line\\u000abreak\\u000d\\u0009\\u0001\\u007f\"",
       "line\\nbreak\r\t\x01\x7f"},
      {"ntp.\xc3\xa9xample", "\"ntp.\xc3\xa9xample\"", "ntp.\xc3\xa9xample"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonString(c.text), c.json);
    EXPECT_EQ(LabelValue(c.text), c.label);
  }
}

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Writers, AFileIsReplacedAtOnceAndNoTemporaryIsLeft) {
  char folder[] = "/tmp/brevun-writer-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/brevun.prom";
  const std::string temporary = TemporaryPath(path);
  EXPECT_EQ(temporary, path + "." + std::to_string(getpid()) + ".tmp");
  // A cron job's umask must not hide the file from a collector running as another user.
  const mode_t umasked = umask(077);
  for (const std::string text : {"brevun_state 0\n# EOF\n", "brevun_state 2\n# EOF\n"}) {
    ASSERT_TRUE(WriteAtomically(path.c_str(), temporary.c_str(), text.data(), text.size()));
    EXPECT_EQ(Read(path), text);
    EXPECT_NE(access(temporary.c_str(), F_OK), 0);
  }
  umask(umasked);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  // A folder that is not there: nothing written, and the caller learns it.
  const std::string nowhere = std::string(folder) + "/missing/brevun.prom";
  EXPECT_FALSE(WriteAtomically(nowhere.c_str(), TemporaryPath(nowhere).c_str(), "x", 1));
  unlink(path.c_str());
  rmdir(folder);
}

TEST(Writers, OnlyTheMeasurementChoosesItsFormat) {
  using cli::ParseArguments;
  const cli::Options o =
      ParseArguments({"-H", "a", "--output", "openmetrics", "--output-file", "/tmp/b.prom"});
  EXPECT_EQ(o.output, Format::kOpenMetrics);
  EXPECT_EQ(o.outputFile, "/tmp/b.prom");
  EXPECT_EQ(ParseArguments({"-H", "a", "-H", "b", "--output=json"}).output, Format::kJson);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-H", "a", "--output", "xml"},
           {"-H", "a", "--output-file", ""},
           {"-P", "#FPR=local#SPR=local#", "--output", "json"},
           {"-H", "a", "--raw", "--output-file", "/tmp/b"},
           {"-H", "a", "--print-parameter", "--output", "plugin"}}) {
    EXPECT_THROW(ParseArguments(args), cli::UsageError) << args.at(args.size() - 2);
  }
}

}  // namespace
}  // namespace brevun::output
