#include "core/players/opening_turn.h"

#include <vector>

#include "core/game/game_store.h"
#include "core/game/records.h"
#include "core/players/order_receipts.h"
#include "core/turn/forced_turn.h"
#include "core/turn/generation.h"
#include "core/turn/turn_journal.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

std::string OpeningRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-first-turn.txt";
}

OpeningTurn::OpeningTurn(ProgramRecords& records, Mailer& mailer, const Clock& clock, MailLink link)
    : m_records(records), m_mailer(mailer), m_clock(clock), m_link(std::move(link)) {}

std::string OpeningTurn::GameDir() const {
  return m_records.host.repJeu + "/" + m_records.game.gameName;
}

void OpeningTurn::Look(const stars::FileHeader& host) {
  const std::string settled =
      GameDir() + " " + std::to_string(host.gameId) + " turn " + std::to_string(host.turn);
  if (m_settled == settled) return;
  std::optional<Round> round = ReadRound(host.turn);
  if (!round) {
    if (!AtStart(host)) {
      m_settled = settled;
      return;
    }
    if (const std::optional<std::string> failure = PublishTurnFiles(m_records)) {
      // Tried again at the next look: the players get nothing they cannot use.
      if (m_said != *failure) LogEvent("error", "first turn files not published: " + *failure);
      m_said = *failure;
      return;
    }
    round.emplace();
    // Published and recorded before any mail: a restart finds the round under way.
    if (!WriteRound(host.turn, *round)) return;
    LogEvent("info", "first turn files of " + m_records.game.gameName + " published in " +
                         m_records.host.publicationDir + "/" + m_records.game.gameName);
  }
  MailPlayers(host, *round);
  bool finished = true;
  for (int n = 1; n <= m_records.game.playerCount; ++n)
    if (!m_records.game.player(n).isComputer() && round->mailed.count(n) == 0 &&
        round->failures[n].size() < static_cast<std::size_t>(kMailTries))
      finished = false;
  if (finished) m_settled = settled;
}

bool OpeningTurn::AtStart(const stars::FileHeader& host) {
  const std::string gameDir = GameDir();
  const GameSettings& game = m_records.game;
  const std::string& g = game.gameName;
  // A turn generated, or one under way, was mailed by its generation.
  if (FileExists(JournalPath(gameDir)) || AnyGenerationRecorded(gameDir)) return false;
  std::vector<int> humans;
  for (int n = 1; n <= game.playerCount; ++n)
    if (!game.player(n).isComputer()) humans.push_back(n);
  if (humans.empty()) return false;
  // A turn file published already went to the players some other way.
  for (const int n : humans)
    if (FileExists(m_records.host.publicationDir + "/" + g + "/" + g + ".m" + std::to_string(n)))
      return false;
  // No turn file at all: nothing the game made to send (a game moved here without them).
  bool any = false;
  for (const int n : humans) any = any || FileExists(gameDir + "/" + g + ".m" + std::to_string(n));
  if (!any) return false;
  for (const int n : humans) {
    const std::string path = gameDir + "/" + g + ".m" + std::to_string(n);
    const stars::GameFileRead file = stars::ReadGameFile(path);
    if (!file.complete() || !stars::IsTurnFileFor(file.header, host, n)) {
      const std::string problem = "first turn files not mailed: " + path + " is not player " +
                                  std::to_string(n) + "'s turn file of this turn, whole";
      if (m_said != problem) LogEvent("warning", problem);
      m_said = problem;
      return false;
    }
  }
  return true;
}

std::optional<OpeningTurn::Round> OpeningTurn::ReadRound(int turn) const {
  GameStore store(GameDir(), GameStore::Access::kRead);
  GameStore::Query query =
      store.Select("SELECT row, step, at FROM first_turn WHERE turn = ? ORDER BY rowid", turn);
  std::optional<Round> round;
  while (query.Step()) {
    if (!round) round.emplace();  // a round began when any of it is recorded
    const int row = static_cast<int>(query.Int(0));
    const std::string step = query.Text(1);
    if (step == "mailed")
      round->mailed.insert(row);
    else if (step == "failed")
      round->failures[row].push_back(query.Int(2));
  }
  return round;
}

bool OpeningTurn::WriteRound(int turn, const Round& round) {
  try {
    GameStore store(GameDir(), GameStore::Access::kWrite);
    const std::string insert = "INSERT INTO first_turn(turn, row, step, at) VALUES(?, ?, ?, ?)";
    store.Transaction([&] {
      store.Run("DELETE FROM first_turn");
      store.Run(insert, turn, 0, "begun", 0LL);
      for (const int row : round.mailed) store.Run(insert, turn, row, "mailed", 0LL);
      for (const auto& [row, times] : round.failures)
        for (const long long at : times) store.Run(insert, turn, row, "failed", at);
    });
    return true;
  } catch (const EInOutError& error) {
    // Nothing more goes until it can be written: a mail not recorded would go again.
    const std::string problem = std::string("first turn files not recorded: ") + error.what();
    if (m_said != problem) LogEvent("error", problem);
    m_said = problem;
    return false;
  }
}

void OpeningTurn::MailPlayers(const stars::FileHeader& host, Round& round) {
  const GameSettings& game = m_records.game;
  const MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  const long long now = EpochSeconds(m_clock.Now());
  // The first deadline is known already: the hours to it, else the game's.
  const long long deadline = state.deadlineKnown ? EpochSeconds(state.deadline) : 0;
  const int hours =
      deadline > now ? static_cast<int>((deadline - now + 1800) / 3600) : game.hoursToDeadline;
  const std::string body = "la partie " + g + " commence : voici votre premier fichier de tour." +
                           std::string(kParagraph) +
                           "génération faite, votre fichier .M est en attachement." + kParagraph +
                           "Prochaine DL dans " + std::to_string(hours) + "heures." + kParagraph +
                           GamePageLink(m_link, game);
  const std::string yearText = std::to_string(host.year());
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    std::vector<long long>& failed = round.failures[n];
    if (player.isComputer() || round.mailed.count(n) != 0 ||
        failed.size() >= static_cast<std::size_t>(kMailTries) ||
        (!failed.empty() && now < failed.back() + kDefaultMailRetrySeconds))
      continue;
    const std::string name = g + ".m" + std::to_string(n);
    const int result = KeepingWorkingFolder([&] {
      return m_mailer.SendEmail(
          player.name, player.address, g + " année " + yearText, body,
          m_records.host.publicationDir + "\\" + g + "\\" + name, name,
          MailIdentity{g, yearText, n, "first-turn", false, std::to_string(host.gameId)});
    });
    if (result == 0) {
      round.mailed.insert(n);
      LogEvent("info", "first turn file " + name + " mailed to player " + std::to_string(n) + " (" +
                           player.name + ")");
    } else {
      failed.push_back(now);
      LogEvent("error", "the first turn file " + name + " of player " + std::to_string(n) + " (" +
                            player.name + ") not mailed, try " + std::to_string(failed.size()) +
                            " of " + std::to_string(kMailTries));
    }
    if (!WriteRound(host.turn, round)) break;
  }
}

}  // namespace ventari
