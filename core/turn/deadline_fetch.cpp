#include "core/turn/deadline_fetch.h"

#include <cstdlib>

#include "core/game/records.h"
#include "net/nmhttp.h"
#include "platform/app_control.h"
#include "platform/convert.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

std::string LeagueServerBase() {
  const char* value = std::getenv("VENTARI_LEAGUE_SERVER");
  return value && *value ? std::string(value) : std::string("http://localhost/");
}

bool FetchPage(TNMHTTP& http, Dialogs& dialogs, const std::string& url,
               const std::string& proxyHost, const std::string& proxyPort, bool useProxy,
               std::string& headerText, std::string& bodyText, bool* unreachable) {
  if (unreachable) *unreachable = false;
  bodyText.clear();
  headerText.clear();
  http.InputFileMode = false;
  http.OutputFileMode = false;
  http.ReportLevel = 2;
  http.TimeOut = 10000;
  if (useProxy) {
    http.Proxy = proxyHost;
    http.ProxyPort = StrToInt(proxyPort);
  } else {
    http.Proxy.clear();
    http.ProxyPort = 80;
  }
  try {
    http.Get(url);
    bodyText = http.Body;
    headerText = http.Header;
    // An error answer (500, 403, ...) is no deadline page either, whatever its text says.
    const bool found = headerText.find("404 Not") == std::string::npos && http.ReplyNumber < 400;
    if (!http.ReceivedCookie.empty()) dialogs.ShowMessage("Cookie:\r\n" + http.ReceivedCookie);
    return found;
  } catch (const ESockError& e) {
    if (unreachable) *unreachable = true;
    dialogs.ShowMessage(std::string("Exception caught : ") + e.what() + "\r\n" +
                        "(TimeOut)(incorrect proxy name?)");
    return false;
  }
}

DeadlineFetch::DeadlineFetch(ProgramRecords& records, TNMHTTP& http, Dialogs& dialogs,
                             AppControl& app, std::string baseUrl)
    : m_records(records),
      m_http(http),
      m_dialogs(dialogs),
      m_app(app),
      m_baseUrl(std::move(baseUrl)) {}

std::string DeadlineFetch::PageUrl() const {
  return m_baseUrl + m_records.game.webFolder +
         "/travail/ventari.php/nextdl?jeu=" + m_records.game.gameName;
}

std::string DeadlineFetch::CachePath() const { return DeadlineCachePath(m_records); }

bool DeadlineFetch::FetchDeadlineCache() {
  std::string headerText;
  std::string bodyText;
  bool unreachable = false;
  if (!FetchPage(m_http, m_dialogs, PageUrl(), std::string(), std::string(), false, headerText,
                 bodyText, &unreachable)) {
    // A server that cannot be reached may be back later: a service tries again. A page that
    // is not there needs the host.
    LogEvent("error", "the league page " + PageUrl() +
                          (unreachable ? " cannot be reached: a temporary failure, exit status 75"
                                       : " was not found"));
    m_dialogs.ShowMessage("Ventari HTML page not found !!!");
    if (unreachable)
      m_app.RequestEndForRetry();
    else
      m_app.RequestEnd();
    return false;
  }
  // Whole or not at all: a torn cache would stop every later refresh on its conversion error.
  ReplaceFileContents(CachePath(), bodyText + "\r\n");
  LogEvent("info", "deadline page fetched: " + PageUrl());
  return true;
}

}  // namespace ventari
