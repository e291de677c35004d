#include "core/players/news.h"

#include <algorithm>
#include <charconv>
#include <ctime>

#include "core/game/daily_quota.h"
#include "core/game/game_checks.h"
#include "core/game/game_store.h"
#include "core/game/records.h"
#include "core/players/events.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

namespace {

std::optional<long long> Number(const std::string& text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  return line;
}

std::string LocalMinute(long long seconds) { return FormatLocalTime(seconds, "%Y-%m-%d %H:%M"); }

}  // namespace

std::string NewsPath(const std::string& gamesFolder) { return gamesFolder + "/ventari-news.txt"; }

std::optional<HostNewsItem> ReadNews(const std::string& gamesFolder) {
  if (gamesFolder.empty()) return std::nullopt;
  TextFileReader file;
  if (!file.open(NewsPath(gamesFolder))) return std::nullopt;
  const std::string idLine = file.readLine();
  const std::optional<long long> id =
      idLine.rfind("id ", 0) == 0 ? Number(idLine.substr(3)) : std::nullopt;
  HostNewsItem item{id.value_or(0), file.readLine()};
  if (!id || item.text.empty()) return std::nullopt;
  return item;
}

std::vector<long long> ReadNewsSent(const std::string& gameDir) {
  std::vector<long long> ids;
  GameStore store(gameDir, GameStore::Access::kRead);
  GameStore::Query query = store.Select("SELECT id FROM news_sent ORDER BY id");
  while (query.Step()) ids.push_back(query.Int(0));
  return ids;
}

int NewsCommand(const std::string& text, long long now, std::ostream& out, std::ostream& err) {
  ProgramRecords records;
  HostSettings& host = records.host;
  GameSettings& game = records.game;
  try {
    if (!LoadCommandSettings(host, game, err)) return 1;
    const std::string path = NewsPath(host.repJeu);
    const std::string line = OneLine(text);
    if (line.empty()) {
      if (FileExists(path) && !DeleteFileQuiet(path) && FileExists(path)) {
        err << "ventari: " << path << " not deleted\n";
        return 1;
      }
      out << game.gameName << ": the host's message is taken off the status page\n";
      return 0;
    }
    // Counted on what was mailed: a message replaced before the robot saw it reached nobody.
    const std::vector<long long> sent = ReadNewsSent(host.repJeu + "/" + game.gameName);
    if (const std::optional<long long> next = NextAllowedAt(sent, now, kMostNewsPerDay)) {
      err << "ventari: " << kMostNewsPerDay << " messages went to the players of " << game.gameName
          << " in the last 24 hours; the next one may go after " << LocalMinute(*next) << "\n";
      return 1;
    }
    // Each message its own id, later than any before, so that the robot mails it once.
    long long id = now;
    if (!sent.empty()) id = std::max(id, sent.back() + 1);
    if (const std::optional<HostNewsItem> pending = ReadNews(host.repJeu))
      id = std::max(id, pending->id + 1);
    ReplaceFileContents(path, "id " + std::to_string(id) + "\n" + line + "\n");
    out << game.gameName << ": the host's message is on the status page and goes to every "
        << "player by mail at the robot's next look\n";
    return 0;
  } catch (const std::exception& error) {
    err << "ventari: " << error.what() << "\n";
    return 1;
  }
}

HostNews::HostNews(ProgramRecords& records, Mailer& mailer, MailLink link)
    : m_records(records), m_mailer(mailer), m_link(std::move(link)) {}

std::optional<std::string> HostNews::Look() {
  const std::string& folder = m_records.host.repJeu;
  const std::optional<HostNewsItem> news = ReadNews(folder);
  if (!news) return std::nullopt;
  const std::string gameDir = folder + "/" + m_records.game.gameName;
  const std::vector<long long> sent = ReadNewsSent(gameDir);
  if (std::find(sent.begin(), sent.end(), news->id) != sent.end()) return news->text;
  if (news->id == m_failedId) return news->text;

  // Recorded before the mails: a robot killed while sending leaves a player without it, never
  // mails it twice.
  try {
    GameStore store(gameDir, GameStore::Access::kWrite);
    store.Run("INSERT OR IGNORE INTO news_sent(id) VALUES(?)", news->id);
  } catch (const EInOutError& error) {
    LogEvent("error", std::string("the host's message not mailed: ") + error.what());
    m_failedId = news->id;
    return news->text;
  }

  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  LogEvent("info", "the host's message to the players: " + news->text);
  const std::string body = news->text + kParagraph + m_link.Paragraph(game) + "Ventari Robot";
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    if (player.isComputer()) continue;
    KeepingWorkingFolder([&] {
      m_mailer.SendEmail(player.name, player.address, g + " : message de l'hôte", body,
                         std::nullopt, std::nullopt,
                         MailIdentity{g, std::to_string(news->id), n, "news"});
    });
  }
  if (m_events) m_events->Send(events::News(g, news->text));
  return news->text;
}

}  // namespace ventari
