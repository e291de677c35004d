// Orders by mail: messages in a Maildir's new/ taken by the robot's look, as the program puts it
// together, on a real game folder.

#include <filesystem>
#include <fstream>

#include "core/mailed_orders.h"
#include "core/order_receipts.h"
#include "tests/core/robot_fixture.h"
#include "tests/support/captured_stderr.h"

namespace ventari {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RobotTest;
using test::WriteFile;

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
    for (std::size_t k = 0; k < 4; ++k)
      out += i + k <= bytes.size() ? kDigits[(value >> (18 - 6 * k)) & 63] : '=';
    if (i % 57 == 54) out += '\n';
  }
  return out;
}

struct Attachment {
  std::string name;
  std::string bytes;
};

// A message as a mail client writes it: a text, then each file in base64.
std::string Message(const std::string& from, const std::string& subject,
                    const std::vector<Attachment>& files) {
  std::string text = "From: " + from + "\nTo: host@x\nSubject: " + subject +
                     "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b0\"\n\n"
                     "--b0\nContent-Type: text/plain\n\nmes ordres\n";
  for (const Attachment& file : files)
    text +=
        "--b0\nContent-Type: application/octet-stream\nContent-Disposition: attachment; "
        "filename=\"" +
        file.name + "\"\nContent-Transfer-Encoding: base64\n\n" + Base64(file.bytes) + "\n";
  return text + "--b0--\n";
}

class MailedOrdersTest : public RobotTest {
 protected:
  MailedOrdersTest() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "Bob@X"}});
    At(11);  // before the deadline: nothing is generated
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(maildir + "/" + sub);
    // Each row's good file, as the game writes it.
    for (int row : {1, 3}) {
      Orders({row});
      good[row] = ReadFile(stem() + ".x" + std::to_string(row));
      fs::remove(stem() + ".x" + std::to_string(row));
    }
  }
  // The robot with receipts and orders by mail, as the program puts it together.
  struct MailRobot {
    explicit MailRobot(MailedOrdersTest& t)
        : receipts(t.records, t.mailer, t.clock, "http://league.test/", true),
          mailed(t.records, t.mailer, receipts, t.clock, "http://league.test/", t.maildir),
          tick(t.records, t.view, t.sound, t.clock, t.mailer, t.refresh, nullptr, &t.dialogs,
               &receipts),
          robot(t.records, t.app, t.dialogs, t.refresh, tick, t.generation) {
      tick.SetMailedOrders(&mailed);
      robot.FormCreate();
    }
    ~MailRobot() { robot.ReleaseGameLock(); }
    OrderReceipts receipts;
    MailedOrders mailed;
    SurveillanceTick tick;
    Robot robot;
  };
  // Delivered as a mail server does: written in tmp/, renamed into new/.
  std::string Deliver(const std::string& bytes) {
    const std::string name = "17000000" + std::to_string(++delivered) + ".M1P1.test";
    WriteFile(maildir + "/tmp/" + name, bytes);
    fs::rename(maildir + "/tmp/" + name, maildir + "/new/" + name);
    return name;
  }
  std::vector<std::string> Subjects() const {
    std::vector<std::string> subjects;
    for (const auto& mail : mailer.mails) subjects.push_back(mail.address + " " + mail.subject);
    return subjects;
  }
  std::vector<std::string> Cur() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(maildir + "/cur"))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string maildir = folder.root() + "/Maildir";
  std::map<int, std::string> good;
  int delivered = 0;
};

TEST_F(MailedOrdersTest, AGoodFileIsPlacedAndReceiptedOnceAndTheMessageIsMarkedSeen) {
  MailRobot robot(*this);
  const std::string first = Deliver(Message("Ann <ANN@x>", "mes ordres", {{"alpha.x1", good[1]}}));
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x1"), good[1]);
  ASSERT_EQ(Subjects(), std::vector<std::string>{"ann@x alpha année 2405 : ordres reçus"});
  EXPECT_EQ(Cur(), std::vector<std::string>{first + ":2,S"});
  EXPECT_TRUE(fs::is_empty(maildir + "/new"));

  // The same file mailed again, and Bob's under another name: one receipt each, no more.
  Deliver(Message("\"Bob\" <bob@x>", "re", {{"mine", good[3]}, {"again.x1", good[1]}}));
  Deliver(Message("ann@x", "encore", {{"alpha.x1", good[1]}}));
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x3"), good[3]);
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"ann@x alpha année 2405 : ordres reçus",
                                                  "Bob@X alpha année 2405 : ordres refusés",
                                                  "Bob@X alpha année 2405 : ordres reçus"}));
  EXPECT_NE(mailer.mails[1].body->find(
                "le fichier « again.x1 » ne compte pas : c'est le fichier du joueur 1, pas le "
                "vôtre."),
            std::string::npos)
      << *mailer.mails[1].body;
  EXPECT_EQ(ReadFile(stem() + ".x1"), good[1]);
  EXPECT_EQ(Cur().size(), 3u);
  EXPECT_EQ(view.line(WindowLine::State), "prêt à générer");

  // A look after a restart does nothing again.
  mailer.mails.clear();
  robot.robot.Timer1Timer();
  EXPECT_TRUE(mailer.mails.empty());
}

// Every message that must write nothing; who hears of it, and how it is left for the host.
TEST_F(MailedOrdersTest, BadMessagesWriteNothingAndOnlyPlayersHearWhy) {
  const std::string ann = good[1];
  std::string nested = "From: ann@x\nSubject: x\nMIME-Version: 1.0\n";
  for (int level = 0; level < 5000; ++level)
    nested += "Content-Type: multipart/mixed; boundary=\"l" + std::to_string(level) + "\"\n\n--l" +
              std::to_string(level) + "\n";
  std::string cut = ann.substr(0, ann.size() - 1);
  test::WriteGameFile(stem() + ".tmp", test::GameHeader(stars::kOrderFile, 4, 0));
  const std::string lastYear = ReadFile(stem() + ".tmp");
  fs::remove(stem() + ".tmp");
  struct Case {
    std::string what;
    std::string message;
    std::string answer;  // the sentence the refusal holds; empty: no mail at all
    std::string flags;   // of the message in cur/
  };
  const std::vector<Case> cases = {
      {"garbage", std::string("\x00\xff\x13garbage\n\n\x01", 14), "", ""},
      {"a stranger's good file", Message("mallory@evil", "ordres", {{"alpha.x1", ann}}), "", ""},
      {"a display name holding a player's address",
       Message("\"ann@x\" <mallory@evil>", "ordres", {{"alpha.x1", ann}}), "", ""},
      {"two senders", Message("ann@x, bob@x", "ordres", {{"alpha.x1", ann}}), "", ""},
      {"12 MB", Message("ann@x", "gros", {{"big", std::string(12 << 20, 'x')}}),
       "n'a pas été lu (plus de 2 Mo)", ""},
      {"deeply nested", nested, "n'a pas été lu (illisible)", ""},
      {"base64 that does not decode",
       "From: ann@x\nSubject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; "
       "boundary=b\n\n--b\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: "
       "base64\nContent-Disposition: attachment; filename=a.x1\n\n!!!***\x01\x02===AAAA\n--b--\n",
       "le fichier « a.x1 » ne compte pas : ce n'est pas un fichier d'ordres.", ""},
      {"no file at all", Message("ann@x", "bonjour", {}), "ne porte aucun fichier", ""},
      {"a cut file", Message("ann@x", "o", {{"../../x", cut}}),
       "le fichier « ../../x » ne compte pas : fichier incomplet", "S"},
      {"last year's file", Message("ann@x", "o", {{"alpha.x1", lastYear}}),
       "ne compte pas : fait pour l'année 2404.", "S"},
      {"another player's file", Message("ann@x", "o", {{"x", good[3]}}),
       "ne compte pas : c'est le fichier du joueur 3, pas le vôtre.", "S"},
  };
  MailRobot robot(*this);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mailer.mails.clear();
    const std::string name = Deliver(c.message);
    robot.robot.Timer1Timer();
    EXPECT_FALSE(fs::exists(stem() + ".x1"));
    EXPECT_FALSE(fs::exists(stem() + ".x3"));
    EXPECT_FALSE(fs::exists(folder.root() + "/x"));
    EXPECT_TRUE(fs::exists(maildir + "/cur/" + name + ":2," + c.flags));
    if (c.answer.empty()) {
      EXPECT_TRUE(mailer.mails.empty()) << ::testing::PrintToString(Subjects());
      continue;
    }
    ASSERT_EQ(Subjects(), std::vector<std::string>{"ann@x alpha année 2405 : ordres refusés"});
    EXPECT_NE(mailer.mails[0].body->find(c.answer), std::string::npos) << *mailer.mails[0].body;
  }
  EXPECT_TRUE(fs::is_empty(maildir + "/new"));
  EXPECT_EQ(view.line(WindowLine::State), "incomplet");
}

TEST_F(MailedOrdersTest, ATurnFileIsSentAgainOnRequestAFewTimesADay) {
  MailRobot robot(*this);
  WriteFile(folder.pubGameDir() + "/alpha.m3", "bob's turn");
  for (int n = 0; n < kTurnRequestsPerDay + 1; ++n)
    Deliver(Message("bob@x", n == 0 ? "  TOUR Alpha " : "tour alpha", {}));
  Deliver(Message("ann@x", "tour alpha", {}));  // nothing published for Ann yet
  robot.robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), static_cast<std::size_t>(kTurnRequestsPerDay));
  for (const auto& mail : mailer.mails) {
    EXPECT_EQ(mail.address, "Bob@X");
    EXPECT_EQ(mail.subject, "alpha année 2404") << "the turn mail's, which names the year played";
    EXPECT_EQ(mail.attachmentName, "alpha.m3");
    EXPECT_EQ(ReadFile(*mail.attachmentPath), "bob's turn");
    EXPECT_EQ(mail.body->find("votre fichier .M de l'année 2405 est en attachement, envoyé à "
                              "nouveau à votre demande."),
              0u);
  }
  EXPECT_NE(mailer.mails[0].messageId, mailer.mails[1].messageId);
  // A day later, the player may ask again; the record counts across a restart.
  At(11);
  clock.now = clock.now + 1.01;
  robot.robot.ReleaseGameLock();
  MailRobot restarted(*this);
  Deliver(Message("bob@x", "tour alpha", {}));
  restarted.robot.Timer1Timer();
  EXPECT_EQ(mailer.mails.size(), static_cast<std::size_t>(kTurnRequestsPerDay) + 1);
}

// What is recorded before it is done is not done again by a robot started after a kill.
TEST_F(MailedOrdersTest, ARobotKilledInTheMiddlePlacesAndAnswersNothingTwice) {
  const std::string record = MailRecordPath(folder.gameDir());
  // Killed after the refusal was recorded, before the message moved.
  const std::string refused = Deliver(Message("ann@x", "o", {{"x", good[3]}}));
  // Killed after a placement began: the file placed, then a newer one uploaded meanwhile.
  const std::string placed = Deliver(Message("bob@x", "o", {{"x", good[3]}}));
  // Killed after a placement began and before the file was written.
  const std::string lost = Deliver(Message("ann@x", "o", {{"x", good[1]}}));
  const long long now = static_cast<long long>(std::time(nullptr));
  WriteFile(record, refused + " answered\n" + placed + " place 3 " + std::to_string(now - 60) +
                        "\n" + lost + " place 1 " + std::to_string(now - 60) + "\n");
  test::WriteOrderFile(stem(), 3, "newer, by the league's upload");
  const std::string newer = ReadFile(stem() + ".x3");
  MailRobot robot(*this);
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x3"), newer);
  EXPECT_EQ(ReadFile(stem() + ".x1"), good[1]);
  // Only the receipts of the files in the folder: no refusal again.
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"ann@x alpha année 2405 : ordres reçus",
                                                  "Bob@X alpha année 2405 : ordres reçus"}));
  EXPECT_EQ(Cur().size(), 3u);
}

TEST_F(MailedOrdersTest, AMaildirThatCannotBeUsedIsLoggedOnceAndItsMessagesWait) {
  const std::string name = Deliver(Message("ann@x", "o", {{"x", good[1]}}));
  fs::remove(maildir + "/tmp");
  test::CapturedStderr log;
  MailRobot robot(*this);
  robot.robot.Timer1Timer();
  robot.robot.Timer1Timer();
  const std::string lines = log.TakeLines();
  EXPECT_NE(lines.find("orders by mail: " + maildir +
                       "/tmp is missing: no Maildir; the "
                       "messages wait"),
            std::string::npos)
      << lines;
  EXPECT_EQ(lines.find("no Maildir"), lines.rfind("no Maildir")) << "logged twice";
  EXPECT_TRUE(fs::exists(maildir + "/new/" + name));
  EXPECT_FALSE(fs::exists(stem() + ".x1"));
  fs::create_directories(maildir + "/tmp");
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x1"), good[1]);
}

}  // namespace
}  // namespace ventari
