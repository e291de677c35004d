// The messages handed to sendmail, read back by an independent MIME reader.

#include "mail/mail_message.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "mail/mail_results.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::ParseMail;
using test::TempDir;

// The result of `check` run in a child process as the unprivileged user nobody when this process
// is root, as this process's user otherwise; -1 when the child could not drop root.
int AsUnprivileged(const std::function<int()>& check) {
  const passwd* nobody = ::getpwnam("nobody");
  const uid_t uid = nobody ? nobody->pw_uid : 65534;
  const gid_t gid = nobody ? nobody->pw_gid : 65534;
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    int result = -1;
    if (::geteuid() != 0 ||
        (::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0))
      result = check();
    const bool written = ::write(fds[1], &result, sizeof result) == sizeof result;
    ::_exit(written ? 0 : 1);
  }
  ::close(fds[1]);
  int result = -1;
  if (child < 0 || ::read(fds[0], &result, sizeof result) != sizeof result) result = -1;
  ::close(fds[0]);
  if (child > 0) ::waitpid(child, nullptr, 0);
  return result;
}

TEST(MailMessage, EveryKindOfLineBreakCountsOnce) {
  EXPECT_EQ(CanonicalLineBreaks("a\r\nb\n\rc\nd\re"), "a\nb\nc\nd\ne");
  // Paragraphs as the robot writes them: one blank line between.
  EXPECT_EQ(CanonicalLineBreaks("un\n\r\n\rdeux"), "un\n\ndeux");
  EXPECT_EQ(CanonicalLineBreaks("un\r\n\r\ndeux"), "un\n\ndeux");
  // Two of the same character are two breaks, and a pair never swallows a third character.
  EXPECT_EQ(CanonicalLineBreaks("a\n\nb\r\rc"), "a\n\nb\n\nc");
  EXPECT_EQ(CanonicalLineBreaks("a\r\n\rb"), "a\n\nb");
  EXPECT_EQ(CanonicalLineBreaks("\r"), "\n");
  EXPECT_EQ(CanonicalLineBreaks("sans fin"), "sans fin");
}

TEST(MailMessage, TextMessageReadsBackWithAccentsAndParagraphs) {
  const BuiltMessage built =
      BuildMailMessage("Élodie Dupré", "elodie@example.org", "alpha année 2405",
                       std::string("Bonjour,\n\r\n\rvoici le tour.\n\r\n\rÀ bientôt"), std::nullopt,
                       std::string("ignored.m1"));
  ASSERT_EQ(built.result, kMailSuccess);
  // Local line ends for the sendmail pipe; the mail system makes them CR LF on the wire.
  EXPECT_EQ(built.bytes.find('\r'), std::string::npos);

  auto mail = ParseMail(built.bytes);
  EXPECT_EQ(mail["defects"], "0");
  EXPECT_EQ(mail["to_count"], "1");
  EXPECT_EQ(mail["to_name"], "Élodie Dupré");
  EXPECT_EQ(mail["to_address"], "elodie@example.org");
  EXPECT_EQ(mail["subject"], "alpha année 2405");
  EXPECT_EQ(mail["content_type"], "text/plain");
  EXPECT_EQ(mail["body_charset"], "utf-8");
  EXPECT_EQ(mail["body"], "Bonjour,\n\nvoici le tour.\n\nÀ bientôt");
  EXPECT_EQ(mail["attachment_count"], "0");
  const std::string headers = mail["headers"];
  EXPECT_NE(headers.find("date"), std::string::npos) << headers;
  EXPECT_EQ(headers.find("from"), std::string::npos) << headers;
}

TEST(MailMessage, EachMessageNamesItsSenderAndSaysARobotSentIt) {
  struct Case {
    MessageHeaders headers;
    const char* fromName;  // null: no From at all
    const char* fromAddress;
    const char* autoSubmitted;
  };
  const Case cases[] = {
      {{}, nullptr, nullptr, "auto-generated"},
      {{"", "bêta human host", "beta@example.org", false},
       "bêta human host",
       "beta@example.org",
       "auto-generated"},
      {{"", "", "host@example.org", true}, "", "host@example.org", "auto-replied"},
      // Not one plain address: the mail system gives the sender.
      {{"", "alpha human host", "Host <host@example.org>", true}, nullptr, nullptr, "auto-replied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers.senderAddress);
    const BuiltMessage built =
        BuildMailMessage("Ann", "ann@example.org", "alpha année 2405", std::string("x"),
                         std::nullopt, std::nullopt, c.headers);
    ASSERT_EQ(built.result, kMailSuccess);
    auto mail = ParseMail(built.bytes);
    EXPECT_EQ(mail["defects"], "0");
    EXPECT_EQ(mail["auto_submitted"], c.autoSubmitted);
    if (c.fromName) {
      EXPECT_EQ(mail["from_name"], c.fromName);
      EXPECT_EQ(mail["from_address"], c.fromAddress);
    } else {
      EXPECT_EQ(mail["headers"].find("from"), std::string::npos) << mail["headers"];
    }
  }
}

TEST(MailMessage, AttachmentTravelsWhole) {
  TempDir dir;
  test::WriteFile(dir.file("jeu.m3"), test::AwkwardBytes());
  // The robot's paths may use "\" as separator.
  const std::string windowsStylePath = dir.path() + "\\jeu.m3";

  const BuiltMessage built = BuildMailMessage("Joueur 3", "p3@example.org", "alpha année 2405",
                                              std::string("Votre tour.\n\r\n\rBon jeu"),
                                              windowsStylePath, std::string("alpha année.m3"));
  ASSERT_EQ(built.result, kMailSuccess);
  auto mail = ParseMail(built.bytes);
  EXPECT_EQ(mail["defects"], "0");
  EXPECT_EQ(mail["content_type"], "multipart/mixed");
  EXPECT_EQ(mail["to_address"], "p3@example.org");
  EXPECT_EQ(mail["body"], "Votre tour.\n\nBon jeu");
  EXPECT_EQ(mail["attachment_count"], "1");
  EXPECT_EQ(mail["attachment_name"], "alpha année.m3");
  EXPECT_EQ(mail["attachment_type"], "application/octet-stream");
  EXPECT_EQ(mail["attachment_encoding"], "base64");
  EXPECT_EQ(mail["attachment_bytes"], test::AwkwardBytes());

  // Without a shown name the file's own name is used.
  const BuiltMessage unnamed = BuildMailMessage("Joueur 3", "p3@example.org", "tour",
                                                std::string("x"), windowsStylePath, std::nullopt);
  ASSERT_EQ(unnamed.result, kMailSuccess);
  auto unnamedMail = ParseMail(unnamed.bytes);
  EXPECT_EQ(unnamedMail["attachment_name"], "jeu.m3");
  EXPECT_EQ(unnamedMail["attachment_bytes"], test::AwkwardBytes());
}

TEST(MailMessage, AttachmentThatCannotBeTakenGivesItsNumberAndNoMessage) {
  TempDir dir;
  const auto build = [](const std::string& path) {
    return BuildMailMessage("J", "j@example.org", "s", std::string("b"), path, std::string("x"));
  };
  BuiltMessage missing = build(dir.file("absent.m1"));
  EXPECT_EQ(missing.result, kMailAttachmentNotFound);
  EXPECT_TRUE(missing.bytes.empty());
  EXPECT_EQ(build(dir.file("absent/below.m1")).result, kMailAttachmentNotFound);
  EXPECT_EQ(build("").result, kMailAttachmentNotFound);

  // A folder exists but cannot be read as a file.
  BuiltMessage folder = build(dir.path());
  EXPECT_EQ(folder.result, kMailAttachmentOpenFailure);
  EXPECT_TRUE(folder.bytes.empty());

  // A pipe would block a plain open: it must be refused at once.
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(build(dir.file("fifo")).result, kMailAttachmentOpenFailure);

  // A file its mode keeps from the robot's user. Root reads it whatever its mode: the check runs
  // as a user the mode applies to, who can read a plain file beside it.
  test::WriteFile(dir.file("locked.m1"), "secret");
  ::chmod(dir.file("locked.m1").c_str(), 0);
  test::WriteFile(dir.file("open.m1"), "public");
  ::chmod(dir.file("open.m1").c_str(), 0644);
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(AsUnprivileged([&] { return build(dir.file("open.m1")).result; }), kMailSuccess);
  EXPECT_EQ(AsUnprivileged([&] { return build(dir.file("locked.m1")).result; }),
            kMailAttachmentOpenFailure);
}

TEST(MailMessage, AttachmentAboveSixteenMiBIsRefusedUnread) {
  TempDir dir;
  const auto build = [](const std::string& path) {
    return BuildMailMessage("J", "j@example.org", "s", std::string("b"), path, std::string("x"));
  };
  const auto sized = [&](const std::string& name, off_t size) {
    test::WriteFile(dir.file(name), "");
    return ::truncate(dir.file(name).c_str(), size) == 0;
  };
  ASSERT_TRUE(sized("limit.m1", static_cast<off_t>(kMaxAttachmentBytes)));
  const BuiltMessage limit = build(dir.file("limit.m1"));
  EXPECT_EQ(limit.result, kMailSuccess);
  EXPECT_GT(limit.bytes.size(), kMaxAttachmentBytes);
  ASSERT_TRUE(sized("over.m1", static_cast<off_t>(kMaxAttachmentBytes) + 1));
  BuiltMessage over = build(dir.file("over.m1"));
  EXPECT_EQ(over.result, kMailAttachmentOpenFailure);
  EXPECT_TRUE(over.bytes.empty());
  // A file far beyond what memory holds is refused by its size, not by reading it.
  if (sized("huge.m1", off_t{1} << 40)) {
    EXPECT_EQ(build(dir.file("huge.m1")).result, kMailAttachmentOpenFailure);
  }
}

TEST(MailMessage, PlainAddressesOnly) {
  for (const char* good :
       {"p1@example.org", "jean.dupre+stars@ligue.example.fr", "\xc3\xa9lodie@exemple.fr", "a@b"})
    EXPECT_TRUE(IsPlainAddress(good)) << good;
  for (const char* bad : {"",
                          "p1",
                          "@example.org",
                          "p1@",
                          "a@b@c",
                          "a@x.org, b@y.org",
                          "a@x.org;b@y.org",
                          "Bob <b@y.org>",
                          "<b@y.org>",
                          "b@y.org (Bob)",
                          "\"Bob\"@y.org",
                          "a b@y.org",
                          " a@y.org",
                          "a@y.org\nBcc: c@z.org",
                          "a@y.org\r",
                          "a\t@y.org",
                          "a\x7f@y.org",
                          "a@[127.0.0.1]",
                          "group: a@y.org;",
                          "a\\b@y.org"})
    EXPECT_FALSE(IsPlainAddress(bad)) << bad;
}

TEST(MailMessage, HeaderTextsCannotAddHeadersOrRecipients) {
  // sendmail -t takes its recipients from the headers: a smuggled Bcc would be obeyed.
  const BuiltMessage built = BuildMailMessage(
      "Mallory\r\nBcc: victim@example.net", "p1@example.org\nCc: other@example.net",
      "tour 2405\r\nBcc: spy@example.net\n\nfaux corps", std::string("vrai corps"), std::nullopt,
      std::nullopt, {"", "alpha\r\nBcc: host-spy@example.net", "host@example.org", false});
  ASSERT_EQ(built.result, kMailSuccess);
  auto mail = ParseMail(built.bytes);
  const std::string headers = mail["headers"];
  EXPECT_EQ(headers.find("bcc"), std::string::npos) << headers;
  EXPECT_EQ(headers.find("cc"), std::string::npos) << headers;
  EXPECT_EQ(mail["to_count"], "1");
  EXPECT_EQ(mail["to_address"], "p1@example.org");
  EXPECT_EQ(mail["from_address"], "host@example.org");
  EXPECT_EQ(mail["body"], "vrai corps");
  EXPECT_EQ(built.bytes.find("\nBcc:"), std::string::npos);
}

}  // namespace
}  // namespace ventari
