// Program entry: the application title, the main window (whose creation runs the first
// refresh), the about box, then the event loop until the application is asked to end.

#include <QApplication>
#include <QCoreApplication>

#include <clocale>
#include <cstring>
#include <iostream>

#include "app/abo_ventari.h"
#include "app/qt_app_control.h"
#include "app/qt_dialogs.h"
#include "app/stop_signals.h"
#include "app/ventari1.h"
#include "core/check_command.h"
#include "core/generation.h"
#include "core/records.h"
#include "core/restore_command.h"
#include "core/year_tool.h"
#include "mail/sendmail_mailer.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/sdl_sound.h"

using namespace ventari;

int main(int argc, char** argv) {
  // Needs no display: done before the window system is asked for.
  if (argc == 3 && std::strcmp(argv[1], "--restore") == 0)
    return RestoreCommand(argv[2], std::cout, std::cerr);
  if (argc == 2 && std::strcmp(argv[1], "--check") == 0) {
    QCoreApplication core(argc, argv);  // the league page's fetch runs on Qt's event loop
    return CheckCommand(std::cout);
  }
  QApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("Ventari"));
  QApplication::setQuitOnLastWindowClosed(true);

  QtDialogs dialogs;
  QtAppControl app;
  StopSignals stopSignals(app);
  SystemClock clock;
  ProgramRecords& records = TheProgramRecords();
  PosixProgramRunner runner;
  SendmailMailer mailer(dialogs, SendmailCommandFromEnvironment());
  SdlSoundPlayer sound;
  YearTool yearMaker(records, runner, dialogs, app);

  TForm1 form({records, dialogs, app, clock, nullptr, yearMaker, mailer, runner, sound,
               LeagueSiteAddress()});
  TAPropos about(mailer, dialogs);
  form.SetAboutBox(&about);
  form.show();
  return QApplication::exec();
}
