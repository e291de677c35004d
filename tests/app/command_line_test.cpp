// The command line read into a start request, its usage text, and the display test.

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace ventari {
namespace {

using Action = StartRequest::Action;

StartRequest Parse(std::vector<const char*> args) {
  QStringList arguments{QStringLiteral("ventari")};
  for (const char* arg : args) arguments << QString::fromUtf8(arg);
  return ParseCommandLine(arguments);
}

TEST(CommandLineTest, FolderIsTakenInEitherSpellingAndNothingElseIsGiven) {
  for (const auto& args :
       std::vector<std::vector<const char*>>{{"--folder", "/srv/a b"}, {"--folder=/srv/a b"}}) {
    const StartRequest request = Parse(args);
    EXPECT_EQ(request.action, Action::kRun);
    EXPECT_TRUE(request.has(QStringLiteral("folder")));
    EXPECT_EQ(request.value(QStringLiteral("folder")), QStringLiteral("/srv/a b"));
    EXPECT_EQ(request.given.size(), 1u);
  }
  const StartRequest plain = Parse({});
  EXPECT_EQ(plain.action, Action::kRun);
  EXPECT_TRUE(plain.given.empty());
  EXPECT_EQ(plain.value(QStringLiteral("folder")), QString());
}

TEST(CommandLineTest, APauseTakesTheWordsAfterItAsItsTextAndNothingElseTakesWords) {
  const StartRequest paused = Parse({"--folder", "/srv/alpha", "--pause", "Bob", "est", "malade"});
  EXPECT_EQ(paused.action, Action::kRun);
  EXPECT_EQ(paused.value(QStringLiteral("pause")), QStringLiteral("Bob est malade"));
  EXPECT_EQ(paused.value(QStringLiteral("folder")), QStringLiteral("/srv/alpha"));
  const StartRequest bare = Parse({"--pause"});
  EXPECT_TRUE(bare.has(QStringLiteral("pause")));
  EXPECT_EQ(bare.value(QStringLiteral("pause")), QString());
  EXPECT_TRUE(Parse({"--resume"}).has(QStringLiteral("resume")));
  EXPECT_EQ(Parse({"--resume", "now"}).action, Action::kBadUsage);
  EXPECT_EQ(Parse({"--check", "Bob"}).action, Action::kBadUsage);
}

TEST(CommandLineTest, HelpAndVersionInShortAndLongForm) {
  EXPECT_EQ(Parse({"--help"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"-h"}).action, Action::kHelp);
  EXPECT_EQ(Parse({"--version"}).action, Action::kVersion);
  EXPECT_EQ(Parse({"-v"}).action, Action::kVersion);
  // Asking for help beats everything else on the line.
  EXPECT_EQ(Parse({"--folder", "x", "--version", "--help"}).action, Action::kHelp);
}

TEST(CommandLineTest, WhatIsNotUnderstoodIsBadUsageWithItsReason) {
  struct Case {
    std::vector<const char*> args;
    const char* named;  // what the error must name
  };
  for (const Case& c : std::vector<Case>{{{"--bogus"}, "bogus"},
                                         {{"-x"}, "x"},
                                         {{"--folder"}, "folder"},
                                         {{"stray"}, "stray"},
                                         {{"--folder", "a", "b"}, "b"},
                                         {{"--help", "--bogus"}, "bogus"}}) {
    const StartRequest request = Parse(c.args);
    EXPECT_EQ(request.action, Action::kBadUsage) << c.named;
    EXPECT_TRUE(request.error.contains(QString::fromUtf8(c.named))) << request.error.toStdString();
    EXPECT_TRUE(request.given.empty());
  }
}

TEST(CommandLineTest, UsageHasALineForEveryOptionAndVariable) {
  const std::string usage = UsageText();
  std::vector<std::string> lines;
  std::istringstream in(usage);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  auto lineStarting = [&](const std::string& start) {
    int found = 0;
    for (const std::string& line : lines)
      if (line.rfind("  " + start, 0) == 0 && line.size() > start.size() + 4) ++found;
    return found;
  };
  // The options are listed here, not taken from the table the usage is made of: an option
  // missing from that table must fail this test.
  const struct {
    const char* label;  // as the usage shows it, with its value
    std::vector<const char*> args;
    const char* name;
    const char* value;
  } options[] = {{"--folder DIR", {"--folder", "/srv/host"}, "folder", "/srv/host"},
                 {"--check", {"--check"}, "check", ""},
                 {"--restore YEAR", {"--restore", "2405"}, "restore", "2405"},
                 {"--headless", {"--headless"}, "headless", ""}};
  for (const auto& option : options) {
    EXPECT_EQ(lineStarting(option.label), 1) << option.label;
    EXPECT_NE(lines.at(0).find(std::string("[") + option.label + "]"), std::string::npos)
        << "in the synopsis: " << option.label;
    // And the program takes what its usage shows.
    const StartRequest request = Parse(option.args);
    EXPECT_EQ(request.action, Action::kRun) << option.label;
    EXPECT_EQ(request.value(QString::fromUtf8(option.name)), QString::fromUtf8(option.value))
        << option.label;
    EXPECT_TRUE(request.has(QString::fromUtf8(option.name))) << option.label;
  }
  EXPECT_EQ(lineStarting("-h, --help"), 1);
  EXPECT_EQ(lineStarting("-v, --version"), 1);
  EXPECT_NE(lines.at(1).find("ventari --help | --version"), std::string::npos) << lines.at(1);
  for (const char* variable :
       {"VENTARI_SENDMAIL", "VENTARI_LEAGUE_SERVER", "VENTARI_LEAGUE_SITE", "VENTARI_WINE",
        "VENTARI_GAME_TIMEOUT", "VENTARI_MAIL_TIMEOUT", "VENTARI_REMIND_HOURS"})
    EXPECT_EQ(lineStarting(variable), 1) << variable;
  for (const std::string& line : lines) EXPECT_LE(line.size(), 100u) << line;
}

TEST(DisplayTest, AWindowSystemIsFoundOnlyWhereQtCanOpenOne) {
  struct Case {
    const char* platform;
    const char* display;
    const char* wayland;
    bool available;
  };
  for (const Case& c : std::vector<Case>{
           {nullptr, nullptr, nullptr, false},
           {"", "", "", false},
           {nullptr, ":0", nullptr, true},
           {nullptr, nullptr, "wayland-0", true},
           {"xcb", nullptr, "wayland-0", false},
           {"xcb", ":1", nullptr, true},
           {"xcb:nomitshm", ":1", nullptr, true},
           {"wayland", ":0", nullptr, false},
           {"wayland-egl", nullptr, "wayland-1", true},
           {"wayland;xcb", ":0", nullptr, true},
           {"wayland;xcb", nullptr, nullptr, false},
           {"offscreen", nullptr, nullptr, true},
           {"minimal", nullptr, nullptr, true},
           {"vnc:size=800x600", nullptr, nullptr, true},
           {"xcb;offscreen", nullptr, nullptr, true},
       }) {
    EXPECT_EQ(DisplayAvailable(c.platform, c.display, c.wayland), c.available)
        << (c.platform ? c.platform : "(unset)") << " DISPLAY=" << (c.display ? c.display : "")
        << " WAYLAND_DISPLAY=" << (c.wayland ? c.wayland : "");
  }
}

}  // namespace
}  // namespace ventari
