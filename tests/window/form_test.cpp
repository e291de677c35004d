#include "app/ventari1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>

#include <clocale>
#include <cstdlib>
#include <string>

#include "core/game/cache_makers.h"
#include "core/game/monitor_view.h"
#include "core/game/records.h"
#include "platform/datetime.h"
#include "tests/support/fakes.h"
#include "tests/support/game_folder.h"

namespace ventari {
namespace {

using test::GameFolder;
using test::ScopedCurrentDir;
using test::ScriptedDialogs;

class NoMaker : public DeadlineCacheMaker, public YearCacheMaker {
 public:
  bool FetchDeadlineCache() override { return false; }
  bool RunYearTool() override { return false; }
};

class FormTest : public ::testing::Test {
 protected:
  FormTest() { std::setlocale(LC_TIME, "C"); }

  std::unique_ptr<TForm1> MakeForm() {
    return std::make_unique<TForm1>(FormServices{records, dialogs, app, clock, &makers, makers,
                                                 mailer, runner, sound, "http://league.test/"});
  }

  GameFolder folder;
  ScopedCurrentDir cwd{folder.root()};
  ProgramRecords records;
  ScriptedDialogs dialogs;
  EndFlag app;
  test::FakeClock clock;
  NoMaker makers;
  test::RecordingMailer mailer;
  test::ScriptedRunner runner;
  test::FakeSound sound;
};

TEST_F(FormTest, ControlsHaveTheirDesignPlacesAndTexts) {
  auto form = MakeForm();  // no ventari.def: the first refresh ends the program
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"config file not found !!!"});
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Ventari surveillance"));
  EXPECT_EQ(form->size(), QSize(179, 81));
  EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ((form->windowFlags() & Qt::WindowType_Mask), Qt::Tool);
  EXPECT_EQ(form->Label1->text(), QStringLiteral("Jeu :"));
  EXPECT_EQ(form->Label2->text(), QString::fromUtf8("Année :"));
  EXPECT_EQ(form->Label3->text(), QString::fromUtf8("DL à venir :"));
  EXPECT_EQ(form->Label4->text(), QStringLiteral("Etat :"));
  EXPECT_EQ(form->Label5->pos(), QPoint(72, 16));
  EXPECT_EQ(form->Label8->pos(), QPoint(72, 64));
  EXPECT_EQ(form->Label9->text(), QStringLiteral("date et heure"));
  EXPECT_EQ(form->Label10->pos(), QPoint(112, 0));
  EXPECT_EQ(form->Label10->text(), QStringLiteral("000"));
  EXPECT_EQ(form->Label5->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
  EXPECT_EQ(form->Label9->palette().color(form->Label9->foregroundRole()), QColor(255, 0, 255));
  EXPECT_EQ(form->Button1->text(), QString::fromUtf8("génère"));
  EXPECT_EQ(form->Button1->geometry(), QRect(128, 32, 49, 17));
  EXPECT_EQ(form->Button2->text(), QString::fromUtf8("rafraîchit"));
  EXPECT_EQ(form->Button2->geometry(), QRect(130, 0, 49, 17));
  EXPECT_EQ(form->Button1->nextInFocusChain(), form->Button2);
  EXPECT_TRUE(form->MediaPlayer1->isHidden());
  EXPECT_EQ(form->Timer1->interval(), 60000);
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(form->Label9->font().pixelSize(), 11);
}

TEST_F(FormTest, TheFirstRefreshWritesTheLinesAndATickRunsOnActivation) {
  folder.WriteGame({{"Ann", "ann@x"}}, "2030-07-30 18:00:00", "2405");
  clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 0, 0});
  auto form = MakeForm();
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(form->Label5->text(), QStringLiteral("alpha"));
  EXPECT_EQ(form->Label6->text(), QStringLiteral("2405"));
  EXPECT_EQ(form->Label7->text(), QStringLiteral("2030-07-30 18:00:00"));
  EXPECT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:00:00"));
  EXPECT_EQ(form->Label10->text(), QStringLiteral("60"));
  EXPECT_GT(form->Label7->width(), 60);  // sized to its text

  clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 1, 0});
  form->show();
  form->activateWindow();
  QApplication::processEvents();
  EXPECT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:01:00"));

  clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 2, 0});
  form->Button2->click();
  EXPECT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:02:00"));
}

// Eats the window's activations, as a display whose window manager does not manage the window
// yet (one started with the robot) delivers none.
class NoActivation : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    return event->type() == QEvent::WindowActivate;
  }
};

// Processes events until a timer started now and longer than the window's wait for its first
// activation has fired: the timers started before it have fired by then, in their order.
void ProcessPastTheFirstLookWait() {
  QObject context;
  bool over = false;
  QTimer::singleShot(2 * TForm1::kFirstLookWaitMs, &context, [&over] { over = true; });
  while (!over) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

TEST_F(FormTest, TheFirstLookRunsOnceWhetherOrNotTheShownWindowIsActivated) {
  folder.WriteGame({{"Ann", "ann@x"}}, "2030-07-30 18:00:00", "2405");
  clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 0, 0});
  {
    // Never activated: the look runs all the same, without waiting for the minute's timer.
    auto form = MakeForm();
    NoActivation eater;
    form->installEventFilter(&eater);
    clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 1, 0});
    form->show();
    ProcessPastTheFirstLookWait();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:01:00"));
    // An activation that comes later still looks.
    form->removeEventFilter(&eater);
    clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 2, 0});
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(form.get(), &activate);
    EXPECT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:02:00"));
  }
  {
    // Activated when shown: that look only.
    auto form = MakeForm();
    clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 3, 0});
    form->show();
    form->activateWindow();
    QApplication::processEvents();
    ASSERT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:03:00"));
    clock.now = *TryEncodeDateTime({2026, 12, 7, 10, 4, 0});
    ProcessPastTheFirstLookWait();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("12/07/26 10:03:00")) << "a second look";
  }
}

TEST_F(FormTest, ErrorsOfAHandlerGoToTheErrorBoxAndTheWindowGoesOn) {
  folder.WriteGame({}, "not a date", "2405");
  auto form = MakeForm();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], "'te/ d/not ' is not a valid date and time.");
  EXPECT_EQ(form->Label7->text(), QStringLiteral("XXX"));
  form->Button2->click();
  EXPECT_EQ(dialogs.errors.size(), 2u);
  EXPECT_TRUE(form->Timer1->isActive());
}

TEST_F(FormTest, TheMinuteTimerStartsOnlyAfterTheFirstRefresh) {
  folder.WriteGame({}, "not a date", "2405");
  // While a box is open (the start-up's may stay open an hour), is the minute timer running?
  std::vector<bool> timerActiveDuringBox;
  dialogs.whileOpen = [&] {
    for (QWidget* window : QApplication::topLevelWidgets())
      if (auto* timer = window->findChild<QTimer*>(QStringLiteral("Timer1")))
        timerActiveDuringBox.push_back(timer->isActive());
  };
  auto form = MakeForm();
  form->Button2->click();  // a later tick's box: the timer runs by then
  ASSERT_EQ(timerActiveDuringBox.size(), 2u);
  EXPECT_FALSE(timerActiveDuringBox[0]) << "a tick could run inside the start-up's box";
  EXPECT_TRUE(timerActiveDuringBox[1]);
}

TEST_F(FormTest, MouseMoveOverTheStateLabelShowsTheLatePlayers) {
  auto form = MakeForm();
  dialogs.messages.clear();
  records.monitor.lateText = "3(Bob)5(Ann)";
  form->Label8MouseMove();
  records.monitor.lateText.clear();
  form->Label8MouseMove();
  EXPECT_EQ(dialogs.messages,
            (std::vector<std::string>{"en retard : 3(Bob)5(Ann)", "en retard : "}));
}

// Restores the time locale of the C library on the way out.
class ScopedTimeLocale {
 public:
  explicit ScopedTimeLocale(const char* name) : m_saved(std::setlocale(LC_TIME, nullptr)) {
    m_ok = std::setlocale(LC_TIME, name) != nullptr;
  }
  ~ScopedTimeLocale() { std::setlocale(LC_TIME, m_saved.c_str()); }
  ScopedTimeLocale(const ScopedTimeLocale&) = delete;
  ScopedTimeLocale& operator=(const ScopedTimeLocale&) = delete;
  bool ok() const { return m_ok; }

 private:
  std::string m_saved;
  bool m_ok = false;
};

// Why a control's text does not fit the box the design gives it; empty when it fits.
std::string Overflow(const QLabel* label, int rightBound) {
  const QFontMetrics metrics(label->font());
  const int textRight = label->x() + metrics.horizontalAdvance(label->text());
  std::string why;
  if (textRight > rightBound)
    why += " ends at x " + std::to_string(textRight) + ", beyond " + std::to_string(rightBound);
  if (label->width() < metrics.horizontalAdvance(label->text())) why += " is cut by its own width";
  if (metrics.height() > label->height())
    why += " is " + std::to_string(metrics.height()) + " px high in a 13 px label";
  return why.empty() ? why : "'" + label->text().toStdString() + "'" + why;
}

std::string Overflow(const QPushButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.rect = button->rect();
  option.text = button->text();
  const QRect contents =
      button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
  const int needed = QFontMetrics(button->font()).horizontalAdvance(button->text());
  if (needed <= contents.width()) return {};
  return "'" + button->text().toStdString() + "' needs " + std::to_string(needed) + " px of " +
         std::to_string(contents.width());
}

TEST_F(FormTest, EveryTextFitsItsBoxAtTheDesignGeometry) {
  folder.WriteGame({{"Ann", "ann@x"}}, "2030-07-30 18:00:00", "2405");
  auto form = MakeForm();
  const QFontInfo font(form->font());
  SCOPED_TRACE("font " + font.family().toStdString() + " " + std::to_string(font.pixelSize()));
  if (const char* expected = std::getenv("VENTARI_EXPECT_FONT")) {
    EXPECT_EQ(font.family().toStdString(), expected);
  }
  // The design's own widths keep the design's size; a wider family is drawn smaller.
  if (font.family() == QStringLiteral("Liberation Sans")) {
    EXPECT_EQ(font.pixelSize(), 11);
  }
  EXPECT_GE(font.pixelSize(), 8);
  constexpr int kGap = 2;  // a caption must not touch its value
  for (QLabel* caption : {form->Label1, form->Label2, form->Label3, form->Label4})
    EXPECT_EQ(Overflow(caption, 72 - kGap), "");
  // The longest deadline: a 19-character date-time, as any digit may come.
  for (const char* deadline : {"2030-07-30 18:00:00", "2088-08-28 08:08:08"}) {
    form->SetLine(WindowLine::Deadline, deadline);
    EXPECT_EQ(Overflow(form->Label7, 179), "");
  }
  for (const char* state : {"prêt à générer", "incomplet", "devrait générer", "en retard"}) {
    form->SetLine(WindowLine::State, state);
    EXPECT_EQ(Overflow(form->Label8, 179), "");
  }
  EXPECT_EQ(Overflow(form->Label6, 128 - kGap), "");  // the year, left of "génère"
  EXPECT_EQ(Overflow(form->Label10, 130 - kGap), "");
  // The clock line in each locale, at the times that give its longest texts (AM/PM too).
  for (const char* locale : {"C", "fr_FR.UTF-8", "en_US.UTF-8"}) {
    ScopedTimeLocale scoped(locale);
    ASSERT_TRUE(scoped.ok()) << locale << " is missing: tools/install-deps.sh makes it";
    for (const DateTimeParts& at :
         {DateTimeParts{2030, 12, 28, 23, 58, 58}, DateTimeParts{2030, 12, 28, 11, 58, 58},
          DateTimeParts{2030, 10, 10, 10, 10, 10}}) {
      form->SetLine(WindowLine::Clock, DateTimeToStr(*TryEncodeDateTime(at)));
      EXPECT_EQ(Overflow(form->Label9, 112 - kGap), "") << locale;
      // Drawn smaller only where it must: a 24-hour clock keeps the window's size.
      EXPECT_GE(form->Label9->font().pixelSize(),
                std::string(locale) == "en_US.UTF-8" ? 8 : font.pixelSize());
    }
  }
  EXPECT_EQ(Overflow(form->Button1), "");
  EXPECT_EQ(Overflow(form->Button2), "");
}

TEST_F(FormTest, MarkupInALineIsShownAsItsText) {
  auto form = MakeForm();
  // A league page answering a deadline followed by markup.
  const std::string page = "2030-07-30 <b>18</b>:00";
  form->SetLine(WindowLine::Deadline, page);
  EXPECT_EQ(form->Label7->text().toStdString(), page);
  EXPECT_EQ(Overflow(form->Label7, 179), "");  // sized to every character, tags included
  for (QLabel* label : form->findChildren<QLabel*>())
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
}

TEST(VirtualKeys, F1Is112) {
  EXPECT_EQ(VirtualKeyCode(Qt::Key_F1), 112);
  EXPECT_EQ(VirtualKeyCode(Qt::Key_F2), 113);
  EXPECT_EQ(VirtualKeyCode(Qt::Key_A), -1);
}

}  // namespace
}  // namespace ventari
