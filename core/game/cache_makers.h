#pragma once
// The two calls the refresh cycle makes when a cache is missing.

namespace ventari {

class Dialogs;
class AppControl;

// Makes the deadline cache from the league's page. True when the cache has been written; false
// after its message, having asked the application to end.
class DeadlineCacheMaker {
 public:
  virtual ~DeadlineCacheMaker() = default;
  virtual bool FetchDeadlineCache() = 0;
};

// Runs the year tool in the per-game folder. True when it ran, with the working folder set
// back; false after its message, having asked the application to end.
class YearCacheMaker {
 public:
  virtual ~YearCacheMaker() = default;
  virtual bool RunYearTool() = 0;
};

// Shows the plain message box, waits for OK and asks the application to end.
void EndApplication(Dialogs& dialogs, AppControl& app, const char* text);

}  // namespace ventari
