// The game's store: what it refuses, how it takes over the record files of an older robot, and
// that a robot killed in the middle of that takes over nothing twice and sends nothing twice.

#include "core/game/game_store.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <memory>

#include "core/game/old_records.h"
#include "core/game/records.h"
#include "core/game/store_guard.h"
#include "core/game/turn_record.h"
#include "core/players/late_reminders.h"
#include "core/players/mail_record.h"
#include "core/players/news.h"
#include "core/players/order_file_judge.h"
#include "core/robot/robot_parts.h"
#include "core/turn/forced_turn.h"
#include "core/turn/turn_history.h"
#include "tests/support/fakes.h"
#include "tests/support/fixed_caches.h"
#include "tests/support/game_folder.h"
#include "tests/support/game_store_rows.h"
#include "tests/support/parts_fixture.h"
#include "tests/support/stars_game.h"

namespace ventari {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::string>;

TEST(GameStore, AStoreThatCannotBeUsedIsSaidSoAndLeftAsItIs) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> make;
    const char* said;
  } cases[] = {
      {"not a database",
       [](const std::string& path) { test::WriteFile(path, std::string(4096, 'x')); },
       "file is not a database"},
      {"a folder in its place",
       [](const std::string& path) { fs::create_directories(path + "/in-the-way"); },
       "cannot be opened"},
      {"made by a newer robot",
       [](const std::string& path) {
         { GameStore made(fs::path(path).parent_path().string(), GameStore::Access::kWrite); }
         GameStore(fs::path(path).parent_path().string(), GameStore::Access::kWrite)
             .Execute("PRAGMA user_version=99");
       },
       "was made by a newer robot (version 99)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const std::string path = GameStorePath(dir.path());
    c.make(path);
    const std::string before = fs::is_regular_file(path) ? test::ReadFile(path) : "";
    for (GameStore::Access access : {GameStore::Access::kRead, GameStore::Access::kWrite}) {
      const std::optional<std::string> problem = GameStoreProblem(dir.path(), access);
      ASSERT_TRUE(problem);
      EXPECT_NE(problem->find("the game store " + path), std::string::npos) << *problem;
      EXPECT_NE(problem->find(c.said), std::string::npos) << *problem;
      EXPECT_THROW(WriteTurnRecord(ReminderRecordPath(dir.path()), "turn 1"), EInOutError);
    }
    if (!before.empty()) {
      EXPECT_EQ(test::ReadFile(path), before) << "never mended";
    }
  }
}

TEST(GameStore, ReadingMakesNothingWritingMakesItWholeAndAFailedStepLeavesNothing) {
  test::TempDir dir;
  EXPECT_FALSE(TurnRecordHolds(ReminderRecordPath(dir.path()), "turn 1"));
  EXPECT_EQ(GameStoreProblem(dir.path(), GameStore::Access::kRead), std::nullopt);
  EXPECT_FALSE(fs::exists(GameStorePath(dir.path()))) << "a reader made the store";

  WriteTurnRecord(ReminderRecordPath(dir.path()), "turn 1");
  EXPECT_TRUE(TurnRecordHolds(ReminderRecordPath(dir.path()), "turn 1"));
  EXPECT_FALSE(TurnRecordHolds(ReminderRecordPath(dir.path()), "turn 2"));
  EXPECT_EQ(test::StoreRows(dir.path(), "PRAGMA journal_mode"), Rows{"wal"});
  EXPECT_EQ(test::StoreRows(dir.path(), "PRAGMA user_version"),
            Rows{std::to_string(kGameStoreVersion)});

  GameStore store(dir.path(), GameStore::Access::kWrite);
  EXPECT_THROW(store.Transaction([&] {
    store.Run("INSERT INTO news_sent(id) VALUES(?)", 7);
    store.Run("INSERT INTO no_such_table VALUES(1)");
  }),
               StoreError);
  EXPECT_EQ(test::StoreRows(dir.path(), "SELECT id FROM news_sent"), Rows{});
  store.Transaction([&] { store.Run("INSERT INTO news_sent(id) VALUES(?)", 8); });
  EXPECT_EQ(ReadNewsSent(dir.path()), std::vector<long long>{8});

  // A store of the first version, without the turns' history: read as it is, upgraded when
  // written, its records kept.
  store.Execute("DROP TABLE orders_in; DROP TABLE turn_played; PRAGMA user_version=1");
  EXPECT_TRUE(ReadTurnHistory(dir.path(), 5).empty());
  EXPECT_EQ(test::StoreRows(dir.path(), "PRAGMA user_version"), Rows{"1"});
  RecordOrdersIn(dir.path(), 3, 1, "abc", 1765000000);
  EXPECT_EQ(test::StoreRows(dir.path(), "PRAGMA user_version"), Rows{"2"});
  EXPECT_EQ(test::StoreRows(dir.path(), "SELECT row, first_at FROM orders_in"),
            Rows{"1|1765000000"});
  EXPECT_EQ(ReadNewsSent(dir.path()), std::vector<long long>{8});
}

// Every record file an older robot kept, as it wrote them, but the stale deadline's note.
void LeaveOldRecords(const std::string& gameDir, const std::string& orderHash) {
  const std::string games = fs::path(gameDir).parent_path().string();
  test::WriteFile(gameDir + "/ventari-receipts.txt",
                  "1 turn 5 sha256 " + orderHash + " at 1765000000 in\n2 inode 77 date 5\n");
  test::WriteFile(gameDir + "/ventari-late-players.txt", "turn 5\r\n2\r\n4\r\n");
  test::WriteFile(gameDir + "/ventari-reminder.txt", "turn 4\r\n");
  test::WriteFile(gameDir + "/ventari-forced-reminder.txt", "turn 4\r\n");
  test::WriteFile(gameDir + "/ventari-journal-told.txt", "the journal is damaged\r\n");
  test::WriteFile(gameDir + "/ventari-last-generation.txt", "turn 5\r\n1765000100\r\n");
  test::WriteFile(gameDir + "/ventari-forced.txt", "turn 4\nhours 1.5\nrow 2\nrow 4\n");
  test::WriteFile(gameDir + "/ventari-first-turn.txt", "turn 0\nmailed 1\nfailed 2 1764000000\n");
  test::WriteFile(gameDir + "/ventari-mail.txt",
                  "#since 1764990000\nk1 id <a@x>\nk1 place 1 1765000010\nk1 placed 1 1765000005 "
                  "abcd\nk1 done S\nk2 answered\nk2 done -\n");
  test::WriteFile(games + "/ventari-news-sent.txt", "1765000200\n1765000300\n");
}

TEST(OldRecords, EachOldFileIsTakenOverOnceAndKeptAsideUntilTheNextTurn) {
  test::GameFolder folder;
  fs::create_directories(folder.gameDir());
  const std::string dir = folder.gameDir();
  LeaveOldRecords(dir, "feed");
  test::WriteFile(dir + "/ventari-stale-deadline.txt", dir + "/nextdl.txt\r\n");
  ProgramRecords records;
  records.host.repJeu = folder.gameRoot();
  records.game.gameName = folder.game;

  // Read before and after the taking over, the records say the same.
  for (const char* when : {"before the store is made", "after"}) {
    SCOPED_TRACE(when);
    EXPECT_EQ(TurnRecordRows(LateReminderRecordPath(dir), "turn 5"), (std::vector<int>{2, 4}));
    EXPECT_TRUE(TurnRecordHolds(ReminderRecordPath(dir), "turn 4"));
    EXPECT_TRUE(TurnRecordHolds(dir + "/ventari-journal-told.txt", "the journal is damaged"));
    EXPECT_EQ(LastGenerationEnd(dir, 5, std::nullopt), 1765000100);
    EXPECT_EQ(LastGenerationEnd(dir, 4, std::nullopt), std::nullopt);
    const std::optional<ForcedTurn> forced = ReadForcedTurn(dir, 4);
    ASSERT_TRUE(forced);
    EXPECT_EQ(forced->hours, "1.5");
    EXPECT_EQ(forced->rows, (std::vector<int>{2, 4}));
    EXPECT_EQ(ReadNewsSent(dir), (std::vector<long long>{1765000200, 1765000300}));
    EXPECT_TRUE(DeadlineCacheMarkedStale(records));
    EXPECT_EQ(test::StoreRows(dir, "SELECT row, turn, hash, at, accepted FROM receipt"),
              Rows{"1|5|feed|1765000000|1"});
    EXPECT_EQ(test::StoreRows(dir, "SELECT turn, row, step, at FROM first_turn"),
              (Rows{"0|0|begun|0", "0|1|mailed|0", "0|2|failed|1764000000"}));
    MailRecord mail;
    mail.Load(MailRecordPath(dir), 1, /*mark=*/false);
    EXPECT_EQ(mail.since(), 1764990000);
    EXPECT_EQ(mail.KeyOf("<a@x>"), "k1");
    ASSERT_TRUE(mail.Steps("k1") && mail.Steps("k2"));
    EXPECT_EQ(mail.Steps("k1")->placing.at(1), 1765000010);
    EXPECT_EQ(mail.Steps("k1")->done, "S");
    EXPECT_EQ(mail.LastPlacement(1)->hash, "abcd");
    EXPECT_TRUE(mail.Steps("k2")->answered);
    EXPECT_EQ(mail.Steps("k2")->done, "");
    if (!fs::exists(GameStorePath(dir))) {
      for (const std::string& path : OldRecordPaths(dir))
        EXPECT_TRUE(fs::exists(path)) << "a reader moved " << path;
      GameStore made(dir, GameStore::Access::kWrite);
    }
  }
  for (const std::string& path : OldRecordPaths(dir)) {
    EXPECT_FALSE(fs::exists(path)) << path;
    EXPECT_TRUE(fs::exists(path + ".moved")) << path;
  }
  EXPECT_TRUE(TurnRecordHolds(ForcedReminderRecordPath(dir), "turn 4"));
  // An old file that comes back once the store is made is not read again.
  test::WriteFile(dir + "/ventari-reminder.txt", "turn 9\r\n");
  WriteTurnRecord(LateReminderRecordPath(dir), "turn 6");
  EXPECT_FALSE(TurnRecordHolds(ReminderRecordPath(dir), "turn 9"));
  DropMovedRecords(dir);
  for (const std::string& path : OldRecordPaths(dir)) EXPECT_FALSE(fs::exists(path + ".moved"));
}

// A robot with every part, on a game whose older robot left its records in files.
class TakeOverTest : public test::PartsFixture {
 protected:
  TakeOverTest() {
    test::WriteOrderFile(stem(), 1);
    test::WriteFile(folder.gameRoot() + "/ventari-news.txt", "id 1765000300\nbonjour\n");
  }
  void Start() { PartsFixture::Start(3.0, /*receipts=*/true); }
  Rows Counts() const {
    return test::StoreRows(dir(),
                           "SELECT (SELECT count(*) FROM receipt), (SELECT count(*) FROM "
                           "turn_note), (SELECT count(*) FROM news_sent), (SELECT count(*) FROM "
                           "mail_step), (SELECT count(*) FROM first_turn)");
  }
};

TEST_F(TakeOverTest, ARobotKilledWhileTakingOverTakesNothingTwiceAndSendsNothingAgain) {
  const std::string hash = ContentsHash(test::ReadFile(stem() + ".x1"));
  auto putBack = [&](bool all) {
    // The disk as a kill leaves it: the store committed, some files not renamed yet.
    bool every = true;
    for (const std::string& path : OldRecordPaths(dir()))
      if (fs::exists(path + ".moved") && (all || (every = !every)))
        fs::rename(path + ".moved", path);
  };
  struct Case {
    const char* what;
    std::function<void()> kill;
  } cases[] = {
      {"the first start of the new robot", [] {}},
      {"killed while the store was being made", [&] { test::WriteFile(GameStorePath(dir()), ""); }},
      {"killed after the store was committed, before any rename",
       [&] {
         GameStore made(dir(), GameStore::Access::kWrite);
         putBack(true);
       }},
      {"killed between two renames",
       [&] {
         GameStore made(dir(), GameStore::Access::kWrite);
         putBack(false);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    parts.reset();
    test::DropGameStore(dir());
    DropMovedRecords(dir());
    LeaveOldRecords(dir(), hash);
    c.kill();
    mailer.mails.clear();
    At(9, 30);  // reminders due, Ann's orders in
    Start();
    Tick();
    Tick();
    // Ann's receipt, Bob's and Zoe's reminders, the host's message: all went before.
    EXPECT_TRUE(mailer.mails.empty()) << mailer.mails.front().subject;
    EXPECT_EQ(Counts(), Rows{"1|4|2|6|3"});
    for (const std::string& path : OldRecordPaths(dir())) {
      if (path.ends_with("stale-deadline.txt")) continue;  // none left: the deadline is trusted
      EXPECT_FALSE(fs::exists(path)) << path;
      EXPECT_TRUE(fs::exists(path + ".moved")) << path;
    }
  }
  // Kept aside until the next turn is generated.
  test::WriteOrderFile(stem(), 2);
  test::WriteOrderFile(stem(), 4);
  At(12, 1);
  Tick();
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 6);
  for (const std::string& path : OldRecordPaths(dir())) EXPECT_FALSE(fs::exists(path + ".moved"));
}

TEST_F(TakeOverTest, AStoreThatCannotBeReadStopsTheRobotAndIsToldOnce) {
  for (int n : {2, 4}) test::WriteOrderFile(stem(), n);
  test::WriteFile(GameStorePath(dir()), std::string(4096, '?'));
  At(12, 1);  // every order in, the deadline passed
  Start();
  Tick();
  Tick();
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 5) << "a turn generated without its records";
  ASSERT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(mailer.mails[0].address, folder.hostAddress);
  EXPECT_EQ(mailer.mails[0].subject, "ERREUR Ventari : jeu alpha");
  const std::string body = mailer.mails[0].body.value_or("");
  EXPECT_NE(body.find(GameStorePath(dir()) + " cannot be used: file is not a database"),
            std::string::npos)
      << body;
  EXPECT_EQ(dialogs.messages.size(), 1u);

  Start();  // started again: the host knows already
  Tick();
  EXPECT_EQ(mailer.mails.size(), 1u);
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 5);

  // The host moves it away (a change in the game's folder): the robot starts a new one and goes
  // on.
  test::DropGameStore(dir());
  parts->robot().FileChanged();
  EXPECT_EQ(test::TurnOf(stem() + ".hst"), 6);
  EXPECT_FALSE(fs::exists(StoreProblemToldPath(dir())));
}

}  // namespace
}  // namespace ventari
