// Orders by mail: messages in a Maildir's new/ taken by the robot's look, as the program puts it
// together, on a real game folder.

#include <ctime>
#include <filesystem>
#include <fstream>

#include "core/players/mailed_orders.h"
#include "core/players/order_receipts.h"
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
  std::string type = "application/octet-stream";
};

int g_messages = 0;

// A message as a mail client writes it: `head` (fields of its own), a Message-ID unless `head`
// gives one, a text, then each file in base64.
std::string Message(const std::string& from, const std::string& subject,
                    const std::vector<Attachment>& files, const std::string& head = "") {
  std::string text = head + "From: " + from + "\nTo: host@x\nSubject: " + subject +
                     "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b0\"\n";
  if (head.find("Message-ID:") == std::string::npos)
    text += "Message-ID: <" + std::to_string(++g_messages) + "@client.test>\n";
  text += "\n--b0\nContent-Type: text/plain\n\nmes ordres\n";
  for (const Attachment& file : files)
    text += "--b0\nContent-Type: " + file.type + "\nContent-Disposition: attachment; filename=\"" +
            file.name + "\"\nContent-Transfer-Encoding: base64\n\n" + Base64(file.bytes) + "\n";
  return text + "--b0--\n";
}

std::string MailDate(long long seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", std::gmtime(&t));
  return text;
}

class MailedOrdersTest : public RobotTest {
 protected:
  MailedOrdersTest() {
    folder.WriteGameSettings({{"Ann", "ann@x"}, {"Robot", "COMPUTER"}, {"Bob", "Bob@X"}});
    At(11);  // before the deadline: nothing is generated
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(maildir + "/" + sub);
    // Each row's good file, as the game writes it.
    for (int row : {1, 3}) good[row] = OrderBytes(row);
  }
  // Row `row`'s order file for this turn; `rest` makes other orders.
  std::string OrderBytes(int row, const std::string& rest = "") {
    const std::string path = stem() + ".x" + std::to_string(row);
    test::WriteOrderFile(stem(), row, rest);
    const std::string bytes = ReadFile(path);
    fs::remove(path);
    return bytes;
  }
  // The robot with receipts and orders by mail, as the program puts it together.
  struct MailRobot {
    explicit MailRobot(MailedOrdersTest& t, const std::string& authserv = "")
        : receipts(t.records, t.mailer, t.clock, "http://league.test/", true),
          mailed(t.records, t.mailer, receipts, t.clock, "http://league.test/", t.maildir,
                 authserv),
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
  // Delivered as a mail server does: written in tmp/, renamed into new/ (or into cur/, as a mail
  // client moves it before the robot looks).
  std::string Deliver(const std::string& bytes, bool intoCur = false) {
    const std::string name = "17000000" + std::to_string(++delivered) + ".M1P1.test";
    WriteFile(maildir + "/tmp/" + name, bytes);
    fs::rename(maildir + "/tmp/" + name,
               maildir + (intoCur ? "/cur/" + name + ":2," : "/new/" + name));
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

  // Bob's file beside Ann's: one answer, the receipt, naming the file that does not count. The
  // same file mailed again by Ann: nothing more.
  Deliver(Message("\"Bob\" <bob@x>", "re", {{"mine", good[3]}, {"again.x1", good[1]}}));
  Deliver(Message("ann@x", "encore", {{"alpha.x1", good[1]}}));
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x3"), good[3]);
  ASSERT_EQ(Subjects(), (std::vector<std::string>{"ann@x alpha année 2405 : ordres reçus",
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

// Each message alone in the Maildir, before a robot that has never seen it: what it places, who
// hears of it, and where it is left.
TEST_F(MailedOrdersTest, EachMessageIsTakenLeftOrAnsweredAsAMailSystemWould) {
  const std::string ann = good[1];
  std::string nested = "From: ann@x\nSubject: x\nMIME-Version: 1.0\n";
  for (int level = 0; level < 5000; ++level)
    nested += "Content-Type: multipart/mixed; boundary=\"l" + std::to_string(level) + "\"\n\n--l" +
              std::to_string(level) + "\n";
  const std::string cut = ann.substr(0, ann.size() - 1);
  const std::string lastYear =
      test::GameFileBytes(test::GameHeader(stars::kOrderFile, 4, 0), "orders");
  const std::string otherGame =
      test::GameFileBytes(test::GameHeader(stars::kOrderFile, 5, 0, 0xBE7A), "orders");
  const std::vector<Attachment> beside = {
      {"signature.asc", "-----BEGIN PGP SIGNATURE-----", "application/pgp-signature"},
      {"ann.vcf", "BEGIN:VCARD", "text/vcard"},
      {"logo.png", "\x89PNG", "image/png"}};
  const auto annWith = [&](const std::string& head) {
    return Message("ann@x", "ordres", {{"alpha.x1", ann}}, head);
  };
  struct Case {
    std::string what;
    std::string message;
    std::string answer;  // "" no mail; else the subject's end, then a sentence of its body
    bool placed = false;
    std::string authserv = "";
  };
  const std::string kept;  // left in new/ as it came
  const std::vector<Case> cases = {
      {"garbage", std::string("\x00\xff\x13garbage\n\n\x01", 14), kept},
      {"a stranger's good file", Message("mallory@evil", "ordres", {{"alpha.x1", ann}}), kept},
      {"a display name holding a player's address",
       Message("\"ann@x\" <mallory@evil>", "ordres", {{"alpha.x1", ann}}), kept},
      {"two senders", Message("ann@x, bob@x", "ordres", {{"alpha.x1", ann}}), kept},
      {"two @", Message("mallory <ann@x@evil>", "ordres", {{"alpha.x1", ann}}), kept},
      {"a NUL", Message(std::string("ann@x\0@evil", 11), "ordres", {{"alpha.x1", ann}}), kept},
      {"a route", Message("<@evil:ann@x>", "ordres", {{"alpha.x1", ann}}), kept},
      {"two From fields", annWith("From: mallory@evil\n"), kept},
      {"12 MB", Message("ann@x", "gros", {{"big", std::string(12 << 20, 'x')}}), kept},
      {"deeply nested", nested, kept},
      {"base64 that does not decode",
       "From: ann@x\nSubject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; "
       "boundary=b\n\n--b\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: "
       "base64\nContent-Disposition: attachment; filename=a.x1\n\n!!!***\x01\x02===AAAA\n--b--\n",
       kept},
      {"a chat reply, no file", Message("ann@x", "Re: alpha année 2404", {}), kept},
      {"another game's file", Message("ann@x", "ordres", {{"beta.x1", otherGame}}), kept},
      {"the host's own report", Message("host@x", "Ventari : jeu alpha année 2404", {}), kept},
      {"an out-of-office reply", annWith("Auto-Submitted: auto-replied\n"), kept},
      {"a list's mail", annWith("List-Id: <stars.lists.test>\n"), kept},
      {"bulk mail", annWith("Precedence: bulk\n"), kept},
      {"a bounce", annWith("Return-Path: <>\n"), kept},
      {"a cut file", Message("ann@x", "o", {{"../../x", cut}}),
       "ordres refusés|le fichier « ../../x » ne compte pas : fichier incomplet"},
      {"last year's file", Message("ann@x", "o", {{"alpha.x1", lastYear}}),
       "ordres refusés|ne compte pas : fait pour l'année 2404."},
      {"another player's file", Message("ann@x", "o", {{"x", good[3]}}),
       "ordres refusés|ne compte pas : c'est le fichier du joueur 3, pas le vôtre."},
      {"signed, with a card and a picture",
       Message("ann@x", "o", {beside[0], {"alpha.x1", ann}, beside[1], beside[2]}),
       "ordres reçus|sont arrivés : ils seront joués.", true},
      {"her file and Bob's", Message("ann@x", "o", {{"bob", good[3]}, {"alpha.x1", ann}}),
       "ordres reçus|c'est le fichier du joueur 3, pas le vôtre.", true},
      {"no word of the host's server", annWith(""), kept, false, "mx.test"},
      {"a pass of another server",
       annWith("Authentication-Results: mx.evil; dkim=pass "
               "header.d=x\n"),
       kept, false, "mx.test"},
      {"a pass below the server's own fail",
       annWith("Authentication-Results: mx.test; dkim=fail header.d=x\n"
               "Authentication-Results: mx.test; dkim=pass header.d=x\n"),
       kept, false, "mx.test"},
      {"dkim for another domain",
       annWith("Authentication-Results: mx.test; dkim=pass "
               "header.d=evil\n"),
       kept, false, "mx.test"},
      {"dkim for the sender's domain",
       annWith("Authentication-Results: MX.test (c); dkim=pass (ok) header.d=X; spf=fail\n"),
       "ordres reçus|ils seront joués", true, "mx.test"},
      {"spf for the sender",
       annWith("Authentication-Results: mx.test; spf=pass "
               "smtp.mailfrom=ann@x\n"),
       "ordres reçus|ils seront joués", true, "mx.test"},
      {"dmarc", annWith("Authentication-Results: mx.test 1; dmarc=pass header.from=x\n"),
       "ordres reçus|ils seront joués", true, "mx.test"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mailer.mails.clear();
    for (const char* sub : {"/new", "/cur"})
      fs::remove_all(maildir + sub), fs::create_directories(maildir + sub);
    for (const std::string file : {".x1", ".x3"}) fs::remove(stem() + file);
    test::DropGameStore(folder.gameDir());
    const std::string name = Deliver(c.message);
    {
      MailRobot robot(*this, c.authserv);
      robot.robot.Timer1Timer();
    }
    EXPECT_EQ(fs::exists(stem() + ".x1"), c.placed);
    EXPECT_FALSE(fs::exists(stem() + ".x3"));
    EXPECT_FALSE(fs::exists(folder.root() + "/x"));
    if (c.answer.empty()) {
      EXPECT_TRUE(mailer.mails.empty()) << ::testing::PrintToString(Subjects());
      EXPECT_EQ(ReadFile(maildir + "/new/" + name), c.message) << "not left as it came";
      continue;
    }
    EXPECT_EQ(Cur(), std::vector<std::string>{name + ":2,S"});
    const std::size_t bar = c.answer.find('|');
    ASSERT_EQ(Subjects(),
              std::vector<std::string>{"ann@x alpha année 2405 : " + c.answer.substr(0, bar)});
    EXPECT_NE(mailer.mails[0].body->find(c.answer.substr(bar + 1)), std::string::npos)
        << *mailer.mails[0].body;
  }
}

// Bob mails A, then B, then A comes again under another name, then an older message arrives
// late; a mail client moves a message to cur/ before the robot looks; a stranger's message waits
// until the host mends the address.
TEST_F(MailedOrdersTest, OrdersComeInTheOrderTheyWereSentAndEachMessageOnce) {
  MailRobot robot(*this);
  const std::string a = OrderBytes(3, "A"), b = OrderBytes(3, "B"), c = OrderBytes(1, "C");
  const long long now = static_cast<long long>(std::time(nullptr));
  const auto sent = [&](const std::string& id, long long ago) {
    return "Message-ID: <" + id + ">\nDate: " + MailDate(now - ago) + "\n";
  };
  Deliver(Message("bob@x", "A", {{"alpha.x3", a}}, sent("a@bob", 600)));
  robot.robot.Timer1Timer();
  Deliver(Message("bob@x", "B", {{"alpha.x3", b}}, sent("b@bob", 300)));
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x3"), b);
  ASSERT_EQ(mailer.mails.size(), 2u);
  EXPECT_NE(mailer.mails[1].body->find("ces ordres remplacent ceux reçus le "), std::string::npos)
      << *mailer.mails[1].body;
  EXPECT_NE(mailer.mails[0].messageId, mailer.mails[1].messageId);

  Deliver(Message("bob@x", "A", {{"alpha.x3", a}}, sent("a@bob", 600)));    // delivered again
  Deliver(Message("bob@x", "A'", {{"alpha.x3", a}}, sent("a2@bob", 500)));  // late
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x3"), b);
  ASSERT_EQ(mailer.mails.size(), 3u);
  EXPECT_EQ(mailer.mails[2].subject, "alpha année 2405 : ordres refusés");
  EXPECT_NE(
      mailer.mails[2].body->find("ne compte pas : il est plus ancien que les ordres reçus le "),
      std::string::npos)
      << *mailer.mails[2].body;
  EXPECT_EQ(Cur().size(), 4u);

  // Taken from cur/ as from new/, unless it was there before the robot first looked (the host's
  // past mail); a stranger's message stays in new/ until he is a player.
  const std::string past = Deliver(Message("ann@x", "o", {{"alpha.x1", c}}), true);
  fs::last_write_time(maildir + "/cur/" + past + ":2,",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 30));
  const std::string moved = Deliver(Message("ann@x", "o", {{"alpha.x1", good[1]}}), true);
  const std::string waiting = Deliver(Message("ann@new", "o", {{"alpha.x1", c}}));
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x1"), good[1]);
  EXPECT_TRUE(fs::exists(maildir + "/cur/" + moved + ":2,S"));
  EXPECT_TRUE(fs::exists(maildir + "/cur/" + past + ":2,"));
  EXPECT_TRUE(fs::exists(maildir + "/new/" + waiting));
  EXPECT_EQ(mailer.mails.size(), 4u);
  folder.WriteGameSettings({{"Ann", "ann@new"}, {"Robot", "COMPUTER"}, {"Bob", "Bob@X"}});
  robot.robot.Timer1Timer();  // its refresh reads the mended address
  robot.robot.Timer1Timer();
  EXPECT_EQ(ReadFile(stem() + ".x1"), c);
  EXPECT_TRUE(fs::exists(maildir + "/cur/" + waiting + ":2,S"));
  EXPECT_EQ(mailer.mails.size(), 5u);
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
    EXPECT_EQ(mail.body->find("votre fichier .M de la génération année 2404 est en attachement, "
                              "envoyé à nouveau à votre demande : il sert à vos ordres de l'année "
                              "2405."),
              0u);
  }
  EXPECT_NE(mailer.mails[0].messageId, mailer.mails[1].messageId);
  // A day later, the player may ask again; the record counts across a restart. Ann plays two
  // rows: she gets both turn files.
  At(11);
  clock.now = clock.now + 1.01;
  robot.robot.ReleaseGameLock();
  folder.WriteGameSettings({{"Ann", "ann@x"}, {"Ann bis", "ann@x"}, {"Bob", "Bob@X"}});
  WriteFile(folder.pubGameDir() + "/alpha.m1", "ann's turn");
  WriteFile(folder.pubGameDir() + "/alpha.m2", "ann's second turn");
  MailRobot restarted(*this);
  Deliver(Message("bob@x", "tour alpha", {}));
  Deliver(Message("ann@x", "tour alpha", {}));
  mailer.mails.clear();
  restarted.robot.Timer1Timer();
  ASSERT_EQ(mailer.mails.size(), 3u);
  EXPECT_EQ(mailer.mails[1].attachmentName, "alpha.m1");
  EXPECT_EQ(mailer.mails[2].attachmentName, "alpha.m2");
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
