#include "platform/env_file.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

// What a line (or lines) of an environment file sets, as "NAME=value|NAME=value".
std::string Sets(std::string_view text) {
  std::string out;
  for (const EnvAssignment& a : ParseEnvironmentFile(text).assignments)
    out += (out.empty() ? "" : "|") + a.name + "=" + a.value;
  return out;
}

TEST(EnvironmentFile, ReadsWhatTheServiceWouldSet) {
  const struct {
    const char* text;
    const char* sets;
  } cases[] = {
      {"A=1\nB=two words\n", "A=1|B=two words"},
      {"  A = spaced  \r\n", "A=spaced"},  // blanks around, a CR LF line end
      {"# comment\n; another\n\nA=1", "A=1"},
      {"A=x # not a comment\n", "A=x # not a comment"},
      {"A='single $X \\n kept'\n", "A=single $X \\n kept"},
      {"A=\"dq \\\"q\\\" \\\\ \\$HOME \\n\"\n", "A=dq \"q\" \\ $HOME \\n"},
      {"A=\"across\nlines\"\n", "A=across\nlines"},
      {"A=joined \\\nline\n", "A=joined line"},
      {"A=\"keep trailing  \"\n", "A=keep trailing  "},
      {"A=\nB=", "A=|B="},
      {"A=1\nA=2\n", "A=1|A=2"},  // in order: the later wins when set
      // No "=", or a name no shell would take: nothing set.
      {"just words\n1A=x\nA-B=y\nexport C=z\n", ""},
      {"# a comment \\\ncontinued=x\nA=1\n", "A=1"},
      // The event command of a chat room, quotes and "$" as the command's shell wants them.
      {"VENTARI_NOTIFY=jq -c '{a: .game}' | curl -d @- \"$HOOK\"\n",
       "VENTARI_NOTIFY=jq -c '{a: .game}' | curl -d @- \"$HOOK\""},
  };
  for (const auto& c : cases) EXPECT_EQ(Sets(c.text), c.sets) << c.text;
  EXPECT_EQ(ParseEnvironmentFile("just words\nA-B=y\n").ignored.size(), 2u);
}

TEST(EnvironmentFile, LoadingSetsTheVariablesOverTheInheritedOnes) {
  test::TempDir dir;
  test::WriteFile(dir.file("one.env"), "VENTARI_TEST_ONE=file\nVENTARI_TEST_TWO=\"a b\"\n");
  ::setenv("VENTARI_TEST_ONE", "inherited", 1);
  std::string problem;
  ASSERT_TRUE(LoadEnvironmentFile(dir.file("one.env"), problem)) << problem;
  EXPECT_STREQ(std::getenv("VENTARI_TEST_ONE"), "file");
  EXPECT_STREQ(std::getenv("VENTARI_TEST_TWO"), "a b");
  EXPECT_FALSE(LoadEnvironmentFile(dir.file("missing.env"), problem));
  EXPECT_NE(problem.find("missing.env"), std::string::npos) << problem;
  ::unsetenv("VENTARI_TEST_ONE");
  ::unsetenv("VENTARI_TEST_TWO");
}

}  // namespace
}  // namespace ventari
