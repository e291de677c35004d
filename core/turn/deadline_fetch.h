#pragma once
// The deadline page fetch: one GET of the league's deadline page on the local web server, whose
// body becomes the deadline cache.

#include <string>

#include "core/game/cache_makers.h"

namespace ventari {

class AppControl;
class Dialogs;
class TNMHTTP;
struct ProgramRecords;

// The base address of the local web server: VENTARI_LEAGUE_SERVER when set, else
// "http://localhost/".
std::string LeagueServerBase();

// Sets the client up and fetches `url`. True when the answer is the page: its header has no
// "404 Not" and its status is below 400. Socket failures are shown in a message box and give
// false; a cookie set by the answer is shown too. Other errors pass to the caller.
// `unreachable`, when given, learns whether a false came from the connection (refused, timed
// out, no such host) rather than from the page.
bool FetchPage(TNMHTTP& http, Dialogs& dialogs, const std::string& url,
               const std::string& proxyHost, const std::string& proxyPort, bool useProxy,
               std::string& headerText, std::string& bodyText, bool* unreachable = nullptr);

class DeadlineFetch : public DeadlineCacheMaker {
 public:
  DeadlineFetch(ProgramRecords& records, TNMHTTP& http, Dialogs& dialogs, AppControl& app,
                std::string baseUrl = LeagueServerBase());

  // Fetches the page and writes the cache (body and CR LF). False after "Ventari HTML page not
  // found !!!", having asked the application to end.
  bool FetchDeadlineCache() override;

  // base + webFolder + "/travail/ventari.php/nextdl?jeu=" + gameName
  std::string PageUrl() const;
  std::string CachePath() const;

 private:
  ProgramRecords& m_records;
  TNMHTTP& m_http;
  Dialogs& m_dialogs;
  AppControl& m_app;
  std::string m_baseUrl;
};

}  // namespace ventari
