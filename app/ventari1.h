#pragma once
// The main window: a tiny always-on-top tool window that shows the game, its year, the deadline,
// the state of the turn and the time of the last refresh. It only wires events to the core.

#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "core/game/mail_link.h"
#include "core/game/monitor_view.h"
#include "core/turn/schedule.h"

class QLabel;
class QPushButton;
class QTimer;
class QDialog;

namespace ventari {

class AppControl;
class Clock;
class Dialogs;
class DeadlineCacheMaker;
class DeadlineFetch;
class EventSink;
class FileReactions;
class Mailer;
class ProgramRunner;
class RobotParts;
class SoundPlayer;
class TNMHTTP;
class YearCacheMaker;
struct ProgramRecords;

// What the window hands to the core; the program passes the real ones, tests their fakes.
struct FormServices {
  ProgramRecords& records;
  Dialogs& dialogs;
  AppControl& app;
  const Clock& clock;
  // Null: the deadline page is fetched with the window's own HTTP client NMHTTP1.
  DeadlineCacheMaker* deadlineMaker;
  YearCacheMaker& yearMaker;
  Mailer& mailer;
  ProgramRunner& runner;
  SoundPlayer& sound;
  MailLink leagueSite;          // the players' mails' link
  EventSink* events = nullptr;  // the host's event command; null: none
  Schedule schedule{};          // how the deadlines are set, read once at the start
};

class TForm1 : public QWidget, public MonitorView {
  Q_OBJECT

 public:
  // Builds the controls and runs FormCreate (the first refresh) before the window is shown.
  explicit TForm1(const FormServices& services, QWidget* parent = nullptr);
  ~TForm1() override;

  // MonitorView
  void SetLine(WindowLine line, const std::string& text) override;
  void SetColour(WindowColour colour) override;
  int TimerIntervalMs() const override;

  // Event handlers, named after the control and the event.
  void FormCreate();
  void FormActivate();
  void Timer1Timer();
  void Button1Click();
  void Button2Click();
  void FormKeyDown(int keyCode);
  void Label8MouseMove();

  // How long after the window is first shown its first look waits for an activation: without a
  // window manager managing it yet, none comes, and the look runs anyway.
  static constexpr int kFirstLookWaitMs = 500;

  // Called by F1; the about box is attached once it exists.
  void SetAboutBox(QDialog* aboutBox) { m_aboutBox = aboutBox; }

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label9 = nullptr;
  QLabel* Label10 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QWidget* MediaPlayer1 = nullptr;  // hidden: the ready sound plays without a visible control
  QTimer* Timer1 = nullptr;
  std::unique_ptr<TNMHTTP> NMHTTP1;  // the deadline page fetch's client

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  template <typename Handler>
  void Guarded(Handler&& handler);
  QLabel* MakeLabel(const char* text, int left, int top, const char* colour);
  void ChooseWindowFont();

  FormServices m_services;
  std::unique_ptr<DeadlineFetch> m_deadlineFetch;
  std::unique_ptr<RobotParts> m_parts;
  std::unique_ptr<FileReactions> m_reactions;
  QDialog* m_aboutBox = nullptr;
  int m_windowPx = 11;  // the pixel size every text starts from
  bool m_shownOnce = false;
  bool m_activatedOnce = false;
  // When the input that clicked "génère" happened (a click queued while the window was frozen
  // is older than the generation's end).
  std::optional<std::chrono::steady_clock::time_point> m_button1InputTime;
};

// When an input event happened, on the steady clock: X11 and Wayland stamp events with the
// machine's monotonic clock in milliseconds, cut to 32 bits. Nothing for another window system
// or a stamp that cannot be that clock (more than a day old).
std::optional<std::chrono::steady_clock::time_point> InputEventTime(
    const QString& platform, quint64 timestamp, std::chrono::steady_clock::time_point now);

// The key code of a Qt key on the virtual-key scale (F1 = 112); -1 for keys without one here.
int VirtualKeyCode(int qtKey);

}  // namespace ventari
