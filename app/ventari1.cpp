#include "app/ventari1.h"
#include "app/design_font.h"
#include "app/program_icon.h"

#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>

#include <cstdint>
#include <exception>
#include <utility>

#include "app/file_reactions.h"
#include "core/game/records.h"
#include "core/robot/robot_parts.h"
#include "core/turn/deadline_fetch.h"
#include "net/nmhttp.h"
#include "platform/dialogs.h"
#include "platform/files.h"

namespace ventari {

namespace {

constexpr int kClientWidth = 179;
constexpr int kClientHeight = 81;
constexpr int kLabelHeight = 13;
constexpr int kTimerIntervalMs = 60000;
constexpr int kGap = 2;         // a text stops this short of the next control
constexpr int kSmallestPx = 8;  // a line too long for its box is drawn smaller, down to this

// Sets the text and, when it would run past `rightBound` at the window's size, the largest
// smaller size at which it fits: a 12-hour clock line needs one pixel less than the design's.
void FitLine(QLabel* label, const QString& text, int rightBound, int windowPx) {
  label->setText(text);
  QFont font = DesignFont();
  for (int px = windowPx; px >= kSmallestPx; --px) {
    font.setPixelSize(px);
    if (label->x() + QFontMetrics(font).horizontalAdvance(text) <= rightBound) break;
  }
  label->setFont(font);
  label->adjustSize();
  label->setFixedHeight(kLabelHeight);
}

// The room a button leaves for its caption, in the button's style.
int CaptionRoom(const QPushButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.rect = button->rect();
  option.text = button->text();
  return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
}

}  // namespace

int VirtualKeyCode(int qtKey) {
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 112 + (qtKey - Qt::Key_F1);
  return -1;
}

TForm1::TForm1(const FormServices& services, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_services(services) {
  setObjectName(QStringLiteral("Form1"));
  // Qt leaves tool windows out of the last-window count: without this, closing any message
  // box while only this window is up would end the program.
  setAttribute(Qt::WA_QuitOnClose, true);
  setWindowTitle(QString::fromUtf8("Ventari surveillance"));
  setWindowIcon(ProgramIcon());
  setFixedSize(kClientWidth, kClientHeight);
  setFont(DesignFont());
  setAutoFillBackground(true);
  SetColour(WindowColour::ButtonFace);

  Label1 = MakeLabel("Jeu :", 8, 16, nullptr);
  Label2 = MakeLabel("Année :", 8, 32, nullptr);
  Label3 = MakeLabel("DL à venir :", 8, 48, nullptr);
  Label4 = MakeLabel("Etat :", 8, 64, nullptr);
  Label5 = MakeLabel("XXX", 72, 16, "#800000");
  Label6 = MakeLabel("XXX", 72, 32, "#800000");
  Label7 = MakeLabel("XXX", 72, 48, "#800000");
  Label8 = MakeLabel("XXX", 72, 64, "#800000");
  Label9 = MakeLabel("date et heure", 0, 0, "#ff00ff");
  Label9->setAutoFillBackground(true);
  Label9->setBackgroundRole(QPalette::Button);
  Label9->setForegroundRole(QPalette::WindowText);
  Label10 = MakeLabel("000", 112, 0, nullptr);

  Button1 = new QPushButton(QString::fromUtf8("génère"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(128, 32, 49, 17);
  Button2 = new QPushButton(QString::fromUtf8("rafraîchit"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(130, 0, 49, 17);
  setTabOrder(Button1, Button2);

  MediaPlayer1 = new QWidget(this);
  MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
  MediaPlayer1->setGeometry(103, 49, 253, 30);
  MediaPlayer1->hide();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kTimerIntervalMs);

  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  Label8->setMouseTracking(true);
  Label8->installEventFilter(this);
  // Key preview: the window sees every key before the focused control.
  Button1->installEventFilter(this);
  Button2->installEventFilter(this);

  ChooseWindowFont();

  NMHTTP1 = std::make_unique<TNMHTTP>();
  // An error inside the client's time-out timer shows like any other, in the error box.
  NMHTTP1->OnException = [this](const std::string& message) {
    m_services.dialogs.ShowError(message);
  };
  if (!m_services.deadlineMaker) {
    m_deadlineFetch = std::make_unique<DeadlineFetch>(m_services.records, *NMHTTP1,
                                                      m_services.dialogs, m_services.app);
    m_services.deadlineMaker = m_deadlineFetch.get();
  }

  m_parts = std::make_unique<RobotParts>(RobotServices{
      m_services.records, this, m_services.dialogs, m_services.app, m_services.clock,
      *m_services.deadlineMaker, m_services.yearMaker, m_services.mailer, m_services.runner,
      m_services.sound, m_services.leagueSite, GameTimeLimit(), ReminderLeadFromEnvironment(),
      ReceiptsOnFromEnvironment(), ForceFromEnvironment(), MaildirFromEnvironment(),
      m_services.events, m_services.schedule});

  const std::string workingFolder = GetCurrentDir();
  m_reactions = std::make_unique<FileReactions>(FileReactionHooks{
      [this] { Guarded([this] { m_parts->robot().FileChanged(); }); },
      [this] { return m_parts->robot().Busy(); },
      [this, workingFolder] {
        return WatchedFolders(m_services.records, workingFolder, MaildirFromEnvironment());
      },
      [this] { return m_parts->LookAgainIn(); }, MailFolders(MaildirFromEnvironment())});

  // The minute's ticks start once the first refresh is over: a start-up box left open for a
  // minute must not let a tick run before it.
  const auto reading = std::filesystem::file_time_type::clock::now();
  FormCreate();
  m_reactions->AfterLook();       // the folders the settings name, watched before the first tick
  m_reactions->CatchUp(reading);  // and what changed while they were read
  Timer1->start();
}

TForm1::~TForm1() = default;

void TForm1::ChooseWindowFont() {
  // The font the system gives for the design's families may be wider than theirs: the pixel
  // size steps down until the captions, the longest values and the buttons' captions fit.
  const QString captions[] = {Label1->text(), Label2->text(), Label3->text(), Label4->text()};
  const QString values[] = {QStringLiteral("2088-08-28 08:08:08"),
                            QString::fromUtf8("devrait générer"),
                            QString::fromUtf8("prêt à générer")};
  QFont font = DesignFont();
  for (int px = font.pixelSize(); px >= kSmallestPx; --px) {
    font.setPixelSize(px);
    m_windowPx = px;
    setFont(font);
    const QFontMetrics metrics(font);
    bool fits = true;
    for (const QString& caption : captions)
      fits = fits && Label1->x() + metrics.horizontalAdvance(caption) <= Label5->x() - kGap;
    for (const QString& value : values)
      fits = fits && Label5->x() + metrics.horizontalAdvance(value) <= kClientWidth;
    for (const QPushButton* button : {Button1, Button2})
      fits = fits && metrics.horizontalAdvance(button->text()) <= CaptionRoom(button);
    if (fits) break;
  }
  for (QLabel* caption : {Label1, Label2, Label3, Label4}) {
    caption->adjustSize();
    caption->setFixedHeight(kLabelHeight);
  }
}

QLabel* TForm1::MakeLabel(const char* text, int left, int top, const char* colour) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  // Texts from files and the league page are shown as they are, never read as markup.
  label->setTextFormat(Qt::PlainText);
  label->setMargin(0);
  label->setIndent(0);
  label->move(left, top);
  label->setFixedHeight(kLabelHeight);
  if (colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(QString::fromLatin1(colour)));
    label->setPalette(palette);
  }
  label->adjustSize();
  label->setFixedHeight(kLabelHeight);
  return label;
}

template <typename Handler>
void TForm1::Guarded(Handler&& handler) {
  // The application's default handler: show the error, keep the window and the timer going.
  try {
    handler();
  } catch (const std::exception& error) {
    m_services.dialogs.ShowError(error.what());
  }
}

void TForm1::SetLine(WindowLine line, const std::string& text) {
  // Each line ends before the control to its right, or at the client edge.
  QLabel* label = nullptr;
  int rightBound = kClientWidth;
  switch (line) {
    case WindowLine::Clock:
      label = Label9;
      rightBound = Label10->x() - kGap;
      break;
    case WindowLine::Game:
      label = Label5;
      break;
    case WindowLine::Year:
      label = Label6;
      rightBound = Button1->x() - kGap;
      break;
    case WindowLine::Deadline:
      label = Label7;
      break;
    case WindowLine::Period:
      label = Label10;
      rightBound = Button2->x() - kGap;
      break;
    case WindowLine::State:
      label = Label8;
      break;
  }
  FitLine(label, QString::fromStdString(text), rightBound, m_windowPx);
}

void TForm1::SetColour(WindowColour colour) {
  QPalette palette = this->palette();
  const QPalette system;
  palette.setColor(QPalette::Window, colour == WindowColour::InfoBackground
                                         ? system.color(QPalette::ToolTipBase)
                                         : system.color(QPalette::Button));
  setPalette(palette);
}

int TForm1::TimerIntervalMs() const { return Timer1->interval(); }

void TForm1::FormCreate() {
  Guarded([this] { m_parts->robot().FormCreate(); });
}

void TForm1::FormActivate() {
  m_activatedOnce = true;
  Timer1Timer();
}

void TForm1::Timer1Timer() {
  Guarded([this] { m_parts->robot().Timer1Timer(); });
  m_reactions->AfterLook();
}

void TForm1::Button2Click() {
  Guarded([this] { m_parts->robot().Button2Click(); });
  m_reactions->AfterLook();
}

void TForm1::Button1Click() {
  const std::optional<std::chrono::steady_clock::time_point> clickTime =
      std::exchange(m_button1InputTime, std::nullopt);
  Guarded([this, clickTime] { m_parts->robot().Button1Click(clickTime); });
  m_reactions->AfterLook();
}

std::optional<std::chrono::steady_clock::time_point> InputEventTime(
    const QString& platform, quint64 timestamp, std::chrono::steady_clock::time_point now) {
  if (platform != QLatin1String("xcb") && platform != QLatin1String("wayland")) return std::nullopt;
  const auto nowMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::uint32_t age =
      static_cast<std::uint32_t>(nowMs) - static_cast<std::uint32_t>(timestamp);
  constexpr std::uint32_t kDayMs = 24u * 3600u * 1000u;
  if (age > kDayMs) return std::nullopt;
  return now - std::chrono::milliseconds(age);
}

void TForm1::FormKeyDown(int keyCode) {
  if (keyCode != 112 || !m_aboutBox) return;
  Guarded([this] { m_aboutBox->exec(); });
}

void TForm1::Label8MouseMove() {
  Guarded([this] {
    const MonitorState& monitor = m_services.records.monitor;
    // A paused game says why first.
    if (monitor.pauseText)
      m_services.dialogs.ShowMessage(
          "en pause : " + *monitor.pauseText +
          (monitor.lateText.empty() ? "" : "\nen retard : " + monitor.lateText));
    else
      m_services.dialogs.ShowMessage("en retard : " + monitor.lateText);
  });
}

bool TForm1::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    const bool handled = QWidget::event(event);
    FormActivate();
    return handled;
  }
  if (event->type() == QEvent::KeyPress) {
    FormKeyDown(VirtualKeyCode(static_cast<QKeyEvent*>(event)->key()));
  }
  return QWidget::event(event);
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (std::exchange(m_shownOnce, true)) return;
  // A window mapped before the window manager manages it (a session just started) is never
  // activated: the first look would wait for the minute's timer.
  QTimer::singleShot(kFirstLookWaitMs, this, [this] {
    if (!m_activatedOnce) Timer1Timer();
  });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Button1 &&
      (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease)) {
    // The button clicks on release; its time is the input's, however late it is delivered.
    m_button1InputTime = InputEventTime(QGuiApplication::platformName(),
                                        static_cast<QInputEvent*>(event)->timestamp(),
                                        std::chrono::steady_clock::now());
  }
  if (watched == Label8 && event->type() == QEvent::MouseMove) {
    Label8MouseMove();
  } else if (event->type() == QEvent::KeyPress) {
    FormKeyDown(VirtualKeyCode(static_cast<QKeyEvent*>(event)->key()));
    if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace ventari
