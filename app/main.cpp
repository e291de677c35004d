// Program entry: the application title, the main window (whose creation runs the first
// refresh), the about box, then the event loop until the application is asked to end.

#include <QApplication>

#include <clocale>

#include "app/qt_app_control.h"
#include "app/qt_dialogs.h"
#include "app/ventari1.h"
#include "core/cache_makers.h"
#include "core/records.h"
#include "platform/clock.h"

namespace {

using namespace ventari;

class NoDeadlinePage final : public DeadlineCacheMaker {
 public:
  NoDeadlinePage(Dialogs& dialogs, AppControl& app) : m_dialogs(dialogs), m_app(app) {}
  bool FetchDeadlineCache() override {
    EndApplication(m_dialogs, m_app, "Ventari HTML page not found !!!");
    return false;
  }

 private:
  Dialogs& m_dialogs;
  AppControl& m_app;
};

class NoYearTool final : public YearCacheMaker {
 public:
  NoYearTool(Dialogs& dialogs, AppControl& app) : m_dialogs(dialogs), m_app(app) {}
  bool RunYearTool() override {
    EndApplication(m_dialogs, m_app, "Staryear EXE unlaunchable !!!");
    return false;
  }

 private:
  Dialogs& m_dialogs;
  AppControl& m_app;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(QStringLiteral("Ventari"));
  QApplication::setQuitOnLastWindowClosed(true);

  QtDialogs dialogs;
  QtAppControl app;
  SystemClock clock;
  NoDeadlinePage deadlineMaker(dialogs, app);
  NoYearTool yearMaker(dialogs, app);

  TForm1 form({TheProgramRecords(), dialogs, app, clock, deadlineMaker, yearMaker});
  form.show();
  return QApplication::exec();
}
