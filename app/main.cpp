// Program entry: the application title, the main window (whose creation runs the first
// refresh), the about box, then the event loop until the application is asked to end.

#include <QApplication>

#include <clocale>

#include "app/abo_ventari.h"
#include "app/qt_app_control.h"
#include "app/qt_dialogs.h"
#include "app/ventari1.h"
#include "core/cache_makers.h"
#include "core/records.h"
#include "mail/mailer.h"
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

// PLACEHOLDER until the real mailer is wired in: behaves as a machine without a mail client,
// every call ends in the mail error box with result 1.
class NoMailClient final : public Mailer {
 public:
  explicit NoMailClient(Dialogs& dialogs) : m_dialogs(dialogs) {}
  void SendEmail(const std::string&, const std::string&, const std::string&,
                 const std::optional<std::string>&, const std::optional<std::string>&,
                 const std::optional<std::string>&) override {
    m_dialogs.ShowMailError(1);
  }
  void ComposeEmail(const std::string&, const std::string&, const std::string&,
                    const std::optional<std::string>&) override {
    m_dialogs.ShowMailError(1);
  }

 private:
  Dialogs& m_dialogs;
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
  NoMailClient mailer(dialogs);

  TForm1 form({TheProgramRecords(), dialogs, app, clock, deadlineMaker, yearMaker});
  TAPropos about(mailer, dialogs);
  form.SetAboutBox(&about);
  form.show();
  return QApplication::exec();
}
