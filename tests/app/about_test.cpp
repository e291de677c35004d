// The about box, offscreen: opened by F1 from the main window, its texts and controls, the logo,
// the two links and the cursor.

#include "app/abo_ventari.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/jpeg_image.h"
#include "app/ventari1.h"
#include "core/game/cache_makers.h"
#include "core/game/records.h"
#include "mail/mailer.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

using test::ScopedCurrentDir;
using test::ScriptedDialogs;
using test::TempDir;
using ::testing::ElementsAre;

struct Composed {
  std::string name, address, subject;
  std::optional<std::string> body;
};

// Stands for the mail client: records the compose request, may wander off to another folder,
// fail like a missing compose tool, or throw.
class FakeMailer : public Mailer {
 public:
  explicit FakeMailer(Dialogs& dialogs) : m_dialogs(dialogs) {}
  int SendEmail(const std::string&, const std::string&, const std::string&,
                const std::optional<std::string>&, const std::optional<std::string>&,
                const std::optional<std::string>&, const std::optional<MailIdentity>&) override {
    ADD_FAILURE() << "the about box only composes";
    return 2;
  }
  void SetSender(const std::string&, const std::string&) override {}
  void ComposeEmail(const std::string& name, const std::string& address, const std::string& subject,
                    const std::optional<std::string>& body) override {
    composed.push_back({name, address, subject, body});
    if (!wanderTo.empty()) std::filesystem::current_path(wanderTo);
    if (removeFolder) std::filesystem::remove(*removeFolder);
    if (!throwText.empty()) throw Exception(throwText);
    m_dialogs.ShowMailError(1);  // as when no compose tool is installed
  }

  std::vector<Composed> composed;
  std::string wanderTo;
  std::optional<std::string> removeFolder;
  std::string throwText;

 private:
  Dialogs& m_dialogs;
};

class NoCacheMaker : public DeadlineCacheMaker, public YearCacheMaker {
 public:
  bool FetchDeadlineCache() override {
    ADD_FAILURE() << "no settings, no fetch";
    return false;
  }
  bool RunYearTool() override {
    ADD_FAILURE() << "no settings, no year tool";
    return false;
  }
};

struct Opened {
  std::vector<QUrl> urls;
  TAPropos::UrlOpener opener() {
    return [this](const QUrl& url) { urls.push_back(url); };
  }
};

void MoveOver(QWidget* widget) {
  QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &move);
}

Qt::CursorShape ApplicationCursor() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor ? cursor->shape() : Qt::ArrowCursor;
}

// Presses a key in the window and answers how many times the about box was up meanwhile;
// the box is closed with its OK button as soon as it shows.
int ShowsOfBoxOnKey(QWidget* window, TAPropos& about, Qt::Key key) {
  int shown = 0;
  QTimer closer;
  closer.setInterval(0);
  QObject::connect(&closer, &QTimer::timeout, &about, [&] {
    if (!about.isVisible()) return;
    // Modal, and tied to the window that opened it so that it stays above it.
    if (about.isModal() && about.windowHandle()->transientParent() == window->windowHandle())
      ++shown;
    about.Button1->click();
  });
  closer.start();
  QTest::keyClick(window->windowHandle(), key);
  QCoreApplication::processEvents();
  return shown;
}

TEST(AboutBox, F1InTheMainWindowOpensItModallyWhicheverButtonHasTheFocus) {
  TempDir dir;  // no settings: the first refresh ends on its message, the window stays
  ScopedCurrentDir inDir(dir.path());
  ScriptedDialogs dialogs;
  EndFlag app;
  test::FakeClock clock;
  NoCacheMaker makers;
  ProgramRecords records;
  FakeMailer mailer(dialogs);
  test::ScriptedRunner runner;
  test::FakeSound sound;
  TForm1 form(
      {records, dialogs, app, clock, &makers, makers, mailer, runner, sound, "http://l.test/"});
  EXPECT_THAT(dialogs.messages, ElementsAre("config file not found !!!"));

  Opened opened;
  TAPropos about(mailer, dialogs, nullptr, opened.opener());
  form.SetAboutBox(&about);
  EXPECT_FALSE(about.isVisible()) << "created hidden";

  form.show();
  for (QPushButton* button : {form.Button1, form.Button2}) {
    // The window manager gives the activation back once the modal box has closed; offscreen
    // there is none to do it. (A tool window always counts as active: wait for the focus.)
    form.activateWindow();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == form.windowHandle(); }));
    button->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), button);
    EXPECT_EQ(ShowsOfBoxOnKey(&form, about, Qt::Key_F1), 1) << button->objectName().toStdString();
    EXPECT_FALSE(about.isVisible()) << "OK closes it";
    EXPECT_EQ(ShowsOfBoxOnKey(&form, about, Qt::Key_F2), 0);
    EXPECT_EQ(ShowsOfBoxOnKey(&form, about, Qt::Key_Return), 0);
  }
  EXPECT_TRUE(mailer.composed.empty());
  EXPECT_TRUE(opened.urls.empty());
}

TEST(AboutBox, ShowsTheVersionTextLineForLineAndEveryControlInPlace) {
  ScriptedDialogs dialogs;
  FakeMailer mailer(dialogs);
  TAPropos about(mailer, dialogs);

  const std::vector<std::string> expected = {
      "Ventari.exe",
      "",
      "v. 1.3 du 30/07/2002",
      "",
      "Historique :",
      "1.0 du 07/03/2002 : cr\xc3\xa9"
      "ation",
      "1.1 du 11/03/2002 : ajout g\xc3\xa9n\xc3\xa9ration forc\xc3\xa9"
      "e et avertissement ",
      "sinon, BUGFIX, this about screen on F1, etc",
      "1.11 du 14/03/2002 : BUGFIX : added use of repJeu for handling ",
      "different games",
      "1.2 du 27/03/2002 : BUGFIX : erreur apr\xc3\xa8s SendEmail(\"g\xc3\xa9n\xc3\xa9 ",
      "manuelle pr\xc3\xaa"
      "te\")",
      "1.3 du 30/07/2002 : ajout liens HTTP/@mail en About, ajout son ",
      "lorsque pr\xc3\xaat \xc3\xa0 g\xc3\xa9n\xc3\xa9rer",
      "",
  };
  std::vector<std::string> lines;
  for (QTextBlock b = about.Memo1->document()->begin(); b.isValid(); b = b.next())
    lines.push_back(b.text().toStdString());
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(about.Memo1->isReadOnly());

  EXPECT_EQ(about.windowTitle(), QStringLiteral("A propos"));
  EXPECT_EQ(about.frameGeometry(), QRect(202, 295, 485, 215)) << "no frame offscreen";
  EXPECT_EQ(about.font().pixelSize(), 11);
  EXPECT_EQ(about.Memo1->geometry(), QRect(8, 8, 321, 169));
  EXPECT_EQ(about.Panel1->geometry(), QRect(344, 6, 121, 113));
  EXPECT_EQ(about.Panel1->palette().color(QPalette::Window), QColor(0xff, 0x00, 0xff));
  EXPECT_EQ(about.Image1->parentWidget(), about.Panel1);
  EXPECT_EQ(about.Image1->geometry(), QRect(9, 8, 105, 97));
  EXPECT_EQ(about.Button1->geometry(), QRect(384, 136, 65, 41));
  EXPECT_EQ(about.Button1->text(), QStringLiteral("OK"));
  EXPECT_TRUE(about.Button1->font().bold());
  EXPECT_EQ(about.Button1->font().pixelSize(), 19);

  EXPECT_EQ(about.Label6->text(), QStringLiteral("et"));
  EXPECT_EQ(about.Label6->pos(), QPoint(184, 175));
  EXPECT_EQ(about.Label7->text(), QStringLiteral("Tavrin"));
  EXPECT_EQ(about.Label7->pos(), QPoint(202, 175));
  EXPECT_EQ(about.Label5->text(), QString::fromUtf8(kMakerName));
  EXPECT_EQ(about.Label5->y(), 175);
  // "<maker> et Tavrin": the maker's link ends just left of "et", clear of the memo's left edge.
  EXPECT_LT(about.Label5->geometry().right(), 184);
  EXPECT_GT(about.Label5->geometry().right(), 184 - 12);
  EXPECT_GE(about.Label5->x(), 8);
  for (QLabel* link : {about.Label5, about.Label7}) {
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x80));
    EXPECT_TRUE(link->font().underline());
  }
  EXPECT_FALSE(about.Label6->font().underline());
}

TEST(AboutBox, ShowsTheLogoAndStillOpensWhenTheLogoCannotBeDecoded) {
  ScriptedDialogs dialogs;
  FakeMailer mailer(dialogs);
  TAPropos about(mailer, dialogs);
  ASSERT_FALSE(about.Image1->pixmap().isNull()) << "built-in logo decoded";
  EXPECT_EQ(about.Image1->pixmap().size(), QSize(105, 97));

  QFile logo(QStringLiteral(":/ventari/logo.jpg"));
  ASSERT_TRUE(logo.open(QIODevice::ReadOnly));
  const QByteArray bytes = logo.readAll();
  about.LoadLogo(bytes.left(bytes.size() - 400));
  EXPECT_TRUE(about.Image1->pixmap().isNull()) << "a damaged logo shows nothing";

  bool shown = false;
  QTimer::singleShot(0, &about, [&] {
    shown = about.isVisible();
    about.Button1->click();
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_TRUE(shown);
}

TEST(AboutBox, EscapeLeavesItOpenAndBothWindowsCarryTheLogo) {
  ScriptedDialogs dialogs;
  FakeMailer mailer(dialogs);
  TAPropos about(mailer, dialogs);
  std::vector<bool> visibleAfterEscape;
  QTimer::singleShot(0, &about, [&] {
    QTest::keyClick(&about, Qt::Key_Escape);
    QTest::keyClick(about.Button1, Qt::Key_Escape);  // with the focus on the button too
    visibleAfterEscape.push_back(about.isVisible());
    about.Button1->click();
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_EQ(visibleAfterEscape, std::vector<bool>{true});

  // The program's icon is the logo, on the about box and on the main window.
  QFile logo(QStringLiteral(":/ventari/logo.jpg"));
  ASSERT_TRUE(logo.open(QIODevice::ReadOnly));
  const QImage picture = QPixmap::fromImage(*DecodeJpeg(logo.readAll())).toImage();
  EXPECT_EQ(about.windowIcon().pixmap(QSize(105, 97)).toImage(), picture);
  TempDir dir;
  ScopedCurrentDir inDir(dir.path());
  EndFlag app;
  test::FakeClock clock;
  NoCacheMaker makers;
  ProgramRecords records;
  test::ScriptedRunner runner;
  test::FakeSound sound;
  TForm1 form(
      {records, dialogs, app, clock, &makers, makers, mailer, runner, sound, "http://l.test/"});
  EXPECT_EQ(form.windowIcon().pixmap(QSize(105, 97)).toImage(), picture);
}

TEST(AboutBox, SiteLinkOpensTheMakersAddressFromThePictureAndTheName) {
  ScriptedDialogs dialogs;
  FakeMailer mailer(dialogs);
  Opened opened;
  TAPropos about(mailer, dialogs, nullptr, opened.opener());
  about.show();

  QTest::mouseClick(about.Image1, Qt::LeftButton);
  QTest::mouseClick(about.Label5, Qt::LeftButton);
  QTest::mouseClick(about.Image1, Qt::RightButton);
  QTest::mouseClick(about.Label6, Qt::LeftButton);
  const QUrl site(QString::fromUtf8(kMakerSite));
  EXPECT_THAT(opened.urls, ElementsAre(site, site));
  EXPECT_TRUE(site.isValid());
  EXPECT_TRUE(mailer.composed.empty());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST(AboutBox, MailLinkComposesToTheAuthorAndPutsTheWorkingFolderBack) {
  TempDir home;
  TempDir elsewhere;
  const std::string gameDir = home.file("jeu");
  std::filesystem::create_directory(gameDir);
  ScopedCurrentDir inDir(gameDir);

  ScriptedDialogs dialogs;
  FakeMailer mailer(dialogs);
  Opened opened;
  TAPropos about(mailer, dialogs, nullptr, opened.opener());
  about.show();

  // The compose tool is missing: its error box, and the folder it left is undone.
  mailer.wanderTo = elsewhere.path();
  QTest::mouseClick(about.Label7, Qt::LeftButton);
  ASSERT_EQ(mailer.composed.size(), 1u);
  EXPECT_EQ(mailer.composed[0].name, "Tavrin");
  EXPECT_EQ(mailer.composed[0].address, kAuthorAddress);
  EXPECT_EQ(mailer.composed[0].subject, "au sujet de Ventari v 1.3 du 30/07/2002");
  EXPECT_FALSE(mailer.composed[0].body.has_value());
  EXPECT_THAT(dialogs.mailErrors, ElementsAre(1));
  EXPECT_EQ(GetCurrentDir(), gameDir);
  EXPECT_TRUE(dialogs.errors.empty());

  // A mail layer that raises still gets the folder put back, and its error is shown.
  mailer.throwText = "compose failed";
  QTest::mouseClick(about.Label7, Qt::LeftButton);
  EXPECT_EQ(GetCurrentDir(), gameDir);
  EXPECT_THAT(dialogs.errors, ElementsAre("compose failed."));

  // The folder is gone when the mail client returns: the runtime's I/O error, the box stays.
  mailer.throwText.clear();
  mailer.removeFolder = gameDir;
  QTest::mouseClick(about.Label7, Qt::LeftButton);
  EXPECT_THAT(dialogs.errors, ElementsAre("compose failed.", "File not found."));
  EXPECT_EQ(GetCurrentDir(), elsewhere.path());
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(mailer.composed.size(), 3u);
  EXPECT_TRUE(opened.urls.empty());
}

TEST(AboutBox, HandOverThePanelArrowOverTheBackgroundAndNoHandLeftWhenClosed) {
  ScriptedDialogs dialogs;
  FakeMailer mailer(dialogs);
  TAPropos about(mailer, dialogs);
  about.show();
  ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);

  MoveOver(about.Panel1);
  EXPECT_EQ(ApplicationCursor(), Qt::PointingHandCursor);
  MoveOver(about.Panel1);
  MoveOver(about.Image1);
  EXPECT_EQ(ApplicationCursor(), Qt::PointingHandCursor) << "stays over the picture";
  MoveOver(&about);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "arrow, nothing left on the stack";

  MoveOver(about.Panel1);
  EXPECT_EQ(ApplicationCursor(), Qt::PointingHandCursor);
  about.Button1->click();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace ventari
