#include "core/game/settings.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::ScopedCurrentDir;
using test::TempDir;
using test::WriteFile;

class SettingsTest : public ::testing::Test {
 protected:
  TempDir m_dir;
  ScopedCurrentDir m_cwd{m_dir.path()};

  void WriteGame(const std::string& content) { WriteFile(m_dir.file("ventari.pla"), content); }
  bool LoadGame(GameSettings& game) { return LoadGameSettings(game, m_dir.path()); }
};

TEST_F(SettingsTest, HostFileKeepsValuesVerbatimAndFieldsWithoutTabKeepTheirOldValue) {
  HostSettings host;
  EXPECT_FALSE(LoadHostSettings(host));  // no file: nothing changes
  EXPECT_EQ(host.binariesDir, "");

  WriteFile("ventari.def", "a\tC:\\stars \r\nb\tstars.exe\r\nc\t/pub\t x\r\nd\t/jeux\r\n");
  ASSERT_TRUE(LoadHostSettings(host));
  EXPECT_EQ(host.binariesDir, "C:\\stars ");
  EXPECT_EQ(host.executableName, "stars.exe");
  EXPECT_EQ(host.publicationDir, "/pub\t x");  // later tabs belong to the value
  EXPECT_EQ(host.repJeu, "/jeux");

  // Line 3 without a tab, line 4 missing: both keep the previous load's values.
  WriteFile("ventari.def", "a\tnew\r\nb\texe2\r\nno tab here\r\n");
  ASSERT_TRUE(LoadHostSettings(host));
  EXPECT_EQ(host.binariesDir, "new");
  EXPECT_EQ(host.publicationDir, "/pub\t x");
  EXPECT_EQ(host.repJeu, "/jeux");
}

TEST_F(SettingsTest, EveryLineEndingEndsALineAndCtrlZEndsTheText) {
  HostSettings host;
  WriteFile("ventari.def",
            "a\tone\nb\ttwo\rc\tthree\r\n\x1a"
            "d\tfour\r\n");
  ASSERT_TRUE(LoadHostSettings(host));
  EXPECT_EQ(host.binariesDir, "one");
  EXPECT_EQ(host.executableName, "two");
  EXPECT_EQ(host.publicationDir, "three");
  EXPECT_EQ(host.repJeu, "");  // after Ctrl-Z every line is empty

  // An LF right after a CR belongs to that line end, not to an empty line of its own.
  WriteFile("ventari.def", "a\t1\r\n\nb\t2\r\n");
  HostSettings other;
  ASSERT_TRUE(LoadHostSettings(other));
  EXPECT_EQ(other.binariesDir, "1");
  EXPECT_EQ(other.executableName, "");
  EXPECT_EQ(other.publicationDir, "2");
}

TEST_F(SettingsTest, GameFileReadsFlagsIntegersAndPlayerRows) {
  WriteGame(
      "nom\talpha\r\nweb\tligue\r\nhote\thost@x.org\r\nres\t$1F\r\nauto\t0\r\n"
      "heures\t0x18\r\nnb\t4\r\nJ1\tAnn,box-of-ann\r\nJ2\tRobot,COMPUTER\r\nJ3\tAnn\r\n"
      "J4\tAnn, box,2\r\nJ5\tnever read\r\n");
  GameSettings game;
  ASSERT_TRUE(LoadGame(game));
  EXPECT_EQ(game.gameName, "alpha");
  EXPECT_EQ(game.webFolder, "ligue");
  EXPECT_EQ(game.hostAddress, "host@x.org");
  EXPECT_EQ(game.reservedNumber, 31);
  EXPECT_FALSE(game.autoGenerate);
  EXPECT_EQ(game.hoursToDeadline, 24);
  EXPECT_EQ(game.playerCount, 4);
  EXPECT_EQ(game.player(1).name, "Ann");
  EXPECT_EQ(game.player(1).address, "box-of-ann");
  EXPECT_TRUE(game.player(2).isComputer());
  EXPECT_EQ(game.player(3).name, "");
  EXPECT_EQ(game.player(3).address, "COMPUTER");
  EXPECT_EQ(game.player(4).address, " box,2");
  EXPECT_EQ(game.player(5).name, "");  // above the count: untouched

  for (const char* on : {"1", "00", " 0", ""}) {
    WriteGame(std::string("n\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\na\t") + on + "\r\nh\t1\r\nc\t0\r\n");
    ASSERT_TRUE(LoadGame(game));
    EXPECT_TRUE(game.autoGenerate) << "value '" << on << "'";
  }
  WriteGame("n\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\nauto without tab\r\nh\t1\r\nc\t0\r\n");
  ASSERT_TRUE(LoadGame(game));
  EXPECT_TRUE(game.autoGenerate);  // kept from the load before
}

TEST_F(SettingsTest, MissingPlayerLinesBecomeComputerRowsAndNegativeCountsReadNothing) {
  WriteGame(
      "n\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\na\t1\r\nh\t48\r\nc\t3\r\nJ1\tA,a@x\r\nJ2\tB,b@x\r\n");
  GameSettings game;
  ASSERT_TRUE(LoadGame(game));
  EXPECT_EQ(game.player(3).name, "???");
  EXPECT_EQ(game.player(3).address, "COMPUTER");

  WriteGame("n\tbeta\r\nw\tl\r\nh\th\r\nr\t0\r\na\t1\r\nh\t48\r\nc\t-2\r\nJ1\tZ,z@x\r\n");
  ASSERT_TRUE(LoadGame(game));
  EXPECT_EQ(game.playerCount, -2);
  EXPECT_EQ(game.player(1).name, "A");  // left as it was
}

TEST_F(SettingsTest, ConversionErrorsQuoteTheValueAndKeepEarlierLines) {
  GameSettings game;
  WriteGame("n\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\na\t1\r\nh\t18h\r\nc\t2\r\n");
  try {
    LoadGame(game);
    FAIL() << "expected a conversion error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'18h' is not a valid integer value");
  }
  EXPECT_EQ(game.gameName, "alpha");  // lines 1 to 5 stored before the error
  EXPECT_TRUE(game.autoGenerate);
  EXPECT_EQ(game.playerCount, 0);

  WriteGame("n\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\na\t1\r\nh\t1\r\nc\t12 \r\n");
  EXPECT_THROW(
      {
        try {
          LoadGame(game);
        } catch (const EConvertError& error) {
          EXPECT_STREQ(error.what(), "'12 ' is not a valid integer value");
          throw;
        }
      },
      EConvertError);

  // Two tabs: the value starts with a tab, which is not a space.
  WriteGame("n\t\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\na\t1\r\nh\t\t48\r\nc\t0\r\n");
  EXPECT_THROW(LoadGame(game), EConvertError);
  EXPECT_EQ(game.gameName, "\talpha");
}

TEST_F(SettingsTest, ThirteenPlayersStoreTwelveRowsThenRaiseTheRangeError) {
  std::string content = "n\talpha\r\nw\tl\r\nh\th\r\nr\t0\r\na\t1\r\nh\t48\r\nc\t13\r\n";
  for (int n = 1; n <= 13; ++n)
    content += "J\tP" + std::to_string(n) + ",p" + std::to_string(n) + "@x\r\n";
  WriteGame(content);
  GameSettings game;
  try {
    LoadGame(game);
    FAIL() << "expected the range error";
  } catch (const ERangeError& error) {
    EXPECT_STREQ(error.what(), "Range check error");
  }
  EXPECT_EQ(game.playerCount, 13);
  EXPECT_EQ(game.player(12).name, "P12");
  EXPECT_THROW(game.player(13), ERangeError);
}

TEST_F(SettingsTest, EveryLineTheRobotCannotUseIsNamedWithItsFileAndLine) {
  // A space for a tab on the game folder, on a player line, and a player line without comma.
  WriteFile(m_dir.file("ventari.def"),
            "bin\tC:\\stars\r\nexe\tstars.exe\r\npub\t/pub\r\njeux /jeux\r\n");
  HostSettings host;
  SettingsProblems problems;
  ASSERT_TRUE(LoadHostSettings(host, &problems));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Message(), "ventari.def, ligne 4 : pas de tabulation (« jeux /jeux »)");
  EXPECT_EQ(host.repJeu, "") << "the design's reading: the field keeps its value";

  WriteGame(
      "jeu\talpha\r\nweb\tligue\r\nhote\th@x\r\nres\t0\r\nauto\t1\r\nheures\t48\r\n"
      "joueurs\t3\r\n1\tAnn,ann@x\r\n2 Bob,bob@x\r\n3\tZoe zoe@x\r\n");
  GameSettings game;
  problems.clear();
  ASSERT_TRUE(LoadGameSettings(game, m_dir.path(), &problems));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].Message(), "ventari.pla, ligne 9 : pas de tabulation (« 2 Bob,bob@x »)");
  EXPECT_EQ(problems[1].Message(),
            "ventari.pla, ligne 10 : pas de virgule entre le nom et l'adresse (« 3\tZoe zoe@x »)");
  EXPECT_EQ(game.player(1).line, 8);

  // A value that does not convert: its line first, then the design's error.
  WriteGame(
      "jeu\talpha\r\nweb\tligue\r\nhote\th@x\r\nres\t0\r\nauto\t1\r\n"
      "joueurs\tAnn,ann@x\r\n");
  problems.clear();
  EXPECT_THROW(LoadGameSettings(game, m_dir.path(), &problems), EConvertError);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Message(),
            "ventari.pla, ligne 6 : pas un nombre entier (« joueurs\tAnn,ann@x »)");
}

TEST_F(SettingsTest, LoadGameFailsWithoutChangingAnythingWhenTheFileIsMissing) {
  GameSettings game;
  game.gameName = "kept";
  EXPECT_FALSE(LoadGameSettings(game, m_dir.file("nowhere")));
  EXPECT_EQ(game.gameName, "kept");
}

}  // namespace
}  // namespace ventari

namespace ventari {
namespace {

class SettingsEncodingTest : public ::testing::Test {
 protected:
  test::TempDir m_dir;
  test::ScopedCurrentDir m_cwd{m_dir.path()};
};

TEST_F(SettingsEncodingTest, Utf8LinesStayAndWindows1252LinesBecomeUtf8) {
  // Written on this machine: UTF-8, kept byte for byte (4-byte forms included).
  test::WriteFile(m_dir.file("ventari.pla"),
                  "nom\tann\xc3\xa9"
                  "e\r\nweb\tligue\r\nhote\th\xc3\xb4te@x.org\r\nr\t0\r\n"
                  "a\t1\r\nh\t48\r\nnb\t2\r\nJ1\t\xc3\x89lodie Dupr\xc3\xa9,e@x.org\r\n"
                  "J2\t\xf0\x9f\x9a\x80 Fus\xc3\xa9"
                  "e,f@x.org\r\n");
  GameSettings game;
  ASSERT_TRUE(LoadGameSettings(game, m_dir.path()));
  EXPECT_EQ(game.gameName,
            "ann\xc3\xa9"
            "e");
  EXPECT_EQ(game.hostAddress, "h\xc3\xb4te@x.org");
  EXPECT_EQ(game.player(1).name, "\xc3\x89lodie Dupr\xc3\xa9");
  EXPECT_EQ(game.player(2).name,
            "\xf0\x9f\x9a\x80 Fus\xc3\xa9"
            "e");

  // Brought from the old Windows host: Windows-1252, read as the same letters in UTF-8. The
  // range 0x80-0x9F is Windows' own (euro, quotes, OE ligature), not Latin-1's controls.
  test::WriteFile(m_dir.file("ventari.pla"),
                  "nom\tann\xe9"
                  "e\r\nweb\tligue\r\nhote\th@x.org\r\nr\t0\r\na\t1\r\nh\t48\r\n"
                  "nb\t3\r\nJ1\t\xc9lodie Dupr\xe9,e@x.org\r\nJ2\t\x93\x9c"
                  "dipe\x94 \x80,o@x.org\r\n"
                  "J3\tZo\xeb \x81\xff,z@x.org\r\n");
  ASSERT_TRUE(LoadGameSettings(game, m_dir.path()));
  EXPECT_EQ(game.gameName,
            "ann\xc3\xa9"
            "e");
  EXPECT_EQ(game.webFolder, "ligue");
  EXPECT_EQ(game.player(1).name, "\xc3\x89lodie Dupr\xc3\xa9");
  EXPECT_EQ(game.player(1).address, "e@x.org");
  EXPECT_EQ(game.player(2).name,
            "\xe2\x80\x9c\xc5\x93"
            "dipe\xe2\x80\x9d \xe2\x82\xac");
  // An unassigned byte keeps its own value; 0xFF is y with diaeresis.
  EXPECT_EQ(game.player(3).name, "Zo\xc3\xab \xc2\x81\xc3\xbf");

  // Sequences that only look like UTF-8 (overlong, surrogate, cut short) are Windows-1252 too.
  test::WriteFile("ventari.def",
                  "a\t\xc0\xafx\r\nb\t\xed\xa0\x80\r\nc\tfin \xc3\r\nd\t\xe9t\xe9 \xc3\xa9\r\n");
  HostSettings host;
  ASSERT_TRUE(LoadHostSettings(host));
  EXPECT_EQ(host.binariesDir, "\xc3\x80\xc2\xafx");
  EXPECT_EQ(host.executableName, "\xc3\xad\xc2\xa0\xe2\x82\xac");
  EXPECT_EQ(host.publicationDir, "fin \xc3\x83");
  // One line is one encoding: a line mixing both is not valid UTF-8, so all of it is 1252.
  EXPECT_EQ(host.repJeu, "\xc3\xa9t\xc3\xa9 \xc3\x83\xc2\xa9");
}

}  // namespace
}  // namespace ventari
