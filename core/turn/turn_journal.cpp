#include "core/turn/turn_journal.h"

#include <algorithm>

#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

int TurnJournal::MailTries(int row) const {
  return static_cast<int>(std::count_if(mailFailures.begin(), mailFailures.end(),
                                        [row](const MailFailure& f) { return f.row == row; }));
}

std::optional<long long> TurnJournal::LastTry(int row) const {
  std::optional<long long> last;
  for (const MailFailure& failure : mailFailures)
    if (failure.row == row && (!last || failure.atSeconds > *last)) last = failure.atSeconds;
  return last;
}

bool TurnJournal::Mailed(int row) const {
  return std::find(mailed.begin(), mailed.end(), row) != mailed.end();
}

std::string JournalPath(const std::string& gameDir) { return gameDir + "/ventari-turn.journal"; }

std::optional<TurnJournal> ReadJournal(const std::string& path) {
  if (!FileExists(path)) return std::nullopt;
  TextFileReader file;
  try {
    if (!file.open(path)) throw EInOutError(file.errorCode());
  } catch (const EInOutError& error) {
    throw Exception("the turn journal " + path + " cannot be read: " + error.what());
  }
  TurnJournal journal;
  bool started = false;
  for (std::string line = file.readLine(); !line.empty(); line = file.readLine()) {
    const std::size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
    try {
      if (key == "old-turn") {
        journal.oldTurn = StrToInt(value);
        started = true;
      } else if (key == "backup") {
        journal.backupDir = value;
      } else if (key == "year") {
        journal.yearText = value;
      } else if (key == "round") {
        journal.round = value;
      } else if (key == "game") {
        const std::size_t at = value.find(' ');
        journal.gamePid = StrToInt(value.substr(0, at));
        journal.gameStart = at == std::string::npos ? 0 : std::stoull(value.substr(at + 1));
      } else if (key == "game-done") {
        journal.gameDone = true;
      } else if (key == "published") {
        journal.published = true;
      } else if (key == "mailed") {
        journal.mailed.push_back(StrToInt(value));
      } else if (key == "mail-failed" || key == "report-failed") {
        // "<row> <seconds>" (a journal of an older robot has the row alone); the report's
        // failures are row 0.
        const std::size_t at = value.find(' ');
        TurnJournal::MailFailure failure;
        if (key == "mail-failed") failure.row = StrToInt(value.substr(0, at));
        const std::string when =
            key == "mail-failed" ? (at == std::string::npos ? "" : value.substr(at + 1)) : value;
        if (!when.empty()) failure.atSeconds = std::stoll(when);
        journal.mailFailures.push_back(failure);
      } else if (key == "reported") {
        journal.reported = true;
      } else if (key == "caches-deleted") {
        journal.cachesDeleted = true;
      } else if (key == "restoring") {
        journal.restoring = true;
        journal.failure = value;
      } else if (key == "notice-sent") {
        journal.noticeSent = true;
      } else {
        throw Exception("unknown line");
      }
    } catch (const std::exception&) {
      throw Exception("the turn journal " + path + " is damaged: line \"" + line +
                      "\" is not a journal line");
    }
  }
  if (!started || journal.backupDir.empty())
    throw Exception("the turn journal " + path + " is damaged: it names no turn or no backup");
  return journal;
}

void WriteJournal(const std::string& path, const TurnJournal& journal) {
  std::string text = "old-turn " + std::to_string(journal.oldTurn) + "\r\nbackup " +
                     journal.backupDir + "\r\nyear " + journal.yearText + "\r\n";
  if (!journal.round.empty()) text += "round " + journal.round + "\r\n";
  if (journal.gamePid != 0)
    text += "game " + std::to_string(journal.gamePid) + " " + std::to_string(journal.gameStart) +
            "\r\n";
  if (journal.gameDone) text += "game-done\r\n";
  if (journal.published) text += "published\r\n";
  for (const int row : journal.mailed) text += "mailed " + std::to_string(row) + "\r\n";
  for (const TurnJournal::MailFailure& failure : journal.mailFailures)
    text +=
        (failure.row == 0 ? "report-failed " : "mail-failed " + std::to_string(failure.row) + " ") +
        std::to_string(failure.atSeconds) + "\r\n";
  if (journal.reported) text += "reported\r\n";
  if (journal.cachesDeleted) text += "caches-deleted\r\n";
  if (journal.restoring) text += "restoring " + journal.failure + "\r\n";
  if (journal.noticeSent) text += "notice-sent\r\n";
  ReplaceFileContents(path, text);
}

}  // namespace ventari
