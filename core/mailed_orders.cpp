#include "core/mailed_orders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <tuple>
#include <utility>

#include "core/forced_turn.h"
#include "core/order_file_judge.h"
#include "core/order_receipts.h"
#include "core/records.h"
#include "mail/mail_message.h"
#include "mail/mail_reader.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace ventari {

namespace {

constexpr char kParagraph[] = "\n\r\n\r";
constexpr long long kDay = 24 * 60 * 60;
// Enough of a message too large to read to find its sender.
constexpr std::size_t kHeadBytes = 64 * 1024;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

struct Entry {
  std::string name;
  std::int64_t modifiedNs = 0;
};

// The messages of new/ in the order they arrived (their delivery time, then their name).
std::vector<Entry> WaitingMessages(const std::string& folder) {
  std::vector<Entry> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    // A link is no delivered message: nothing outside the Maildir is read through it.
    struct stat st {};
    if (::lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    entries.push_back(
        {name, static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.modifiedNs, a.name) < std::tie(b.modifiedNs, b.name);
  });
  return entries;
}

// The message's bytes: the whole of one that may be read, the head of one too large.
MailedMessage ReadMessageFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) RaiseLastIoError();
  const bool tooLarge = static_cast<std::uint64_t>(st.st_size) > kMaxMailedMessageBytes;
  const std::size_t wanted = tooLarge ? kHeadBytes : kMaxMailedMessageBytes + 1;
  std::string bytes;
  char buffer[65536];
  while (bytes.size() < wanted) {
    const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, wanted - bytes.size()));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseLastIoError();
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  if (!tooLarge && bytes.size() <= kMaxMailedMessageBytes) return ReadMailedMessage(bytes);
  MailedMessage read = ReadMailedHeader(bytes);
  read.parsed = false;
  read.problem = "larger than " + std::to_string(kMaxMailedMessageBytes) + " bytes";
  return read;
}

// Why a mailed order file does not count, in the players' French.
std::string RefusalReason(const stars::GameFileRead& file, stars::OrderVerdict verdict) {
  if (verdict == stars::OrderVerdict::kOtherTurn && file.read == stars::HeaderRead::kOk)
    return "fait pour l'année " + std::to_string(file.header.year());
  return OrderVerdictFrench(verdict);
}

std::string ShownLabel(const MailedFile& file) {
  return file.shownName.empty() ? std::string("sans nom") : "« " + file.shownName + " »";
}

bool IsTurnRequest(const std::string& subject, const std::string& game) {
  return Lower(Trimmed(subject)) == "tour " + Lower(game);
}

}  // namespace

std::optional<std::string> MaildirFromEnvironment() {
  const char* text = std::getenv("VENTARI_MAILDIR");
  if (text == nullptr || *text == '\0') return std::nullopt;
  return std::string(text);
}

std::optional<std::string> MaildirProblem(const std::string& maildir) {
  for (const char* sub : {"new", "cur", "tmp"}) {
    const std::string folder = maildir + "/" + sub;
    if (!DirectoryExists(folder)) return folder + " is missing: no Maildir";
    if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0)
      return folder + ": " + std::strerror(errno);
  }
  return std::nullopt;
}

std::size_t MessagesWaiting(const std::string& maildir) {
  return WaitingMessages(maildir + "/new").size();
}

std::string MailRecordPath(const std::string& gameDir) { return gameDir + "/ventari-mail.txt"; }

MailedOrders::MailedOrders(ProgramRecords& records, Mailer& mailer, OrderReceipts& receipts,
                           const Clock& clock, MailLink link, std::string maildir)
    : m_records(records),
      m_mailer(mailer),
      m_receipts(receipts),
      m_clock(clock),
      m_link(std::move(link)),
      m_maildir(std::move(maildir)) {
  while (m_maildir.size() > 1 && m_maildir.back() == '/') m_maildir.pop_back();
}

void MailedOrders::LogOnce(const std::string& problem) {
  m_problemSeen = true;
  if (m_loggedProblem == problem) return;
  m_loggedProblem = problem;
  LogEvent("error", "orders by mail: " + problem + "; the messages wait");
}

void MailedOrders::LoadRecord() {
  m_handled.clear();
  m_turnRequests.clear();
  std::ifstream file(m_recordPath);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    std::string key, verb;
    if (!(fields >> key >> verb)) continue;
    Handled& handled = m_handled[key];
    int row = 0;
    long long when = 0;
    if (verb == "place" && fields >> row >> when) {
      handled.placing[row] = when;
    } else if (verb == "placed" && fields >> row) {
      handled.placed.insert(row);
    } else if (verb == "answered") {
      handled.answered = true;
    } else if (verb == "turn" && fields >> row >> when) {
      handled.turnSent = true;
      m_turnRequests[row].push_back(when);
    } else if (verb == "done") {
      std::string flags;
      fields >> flags;
      handled.done = flags == "-" ? std::string() : flags;
    }
  }
}

void MailedOrders::Record(const std::string& line) {
  // Appended and on the disk before the act it announces.
  UniqueFd fd(::open(m_recordPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  const std::string text = line + "\n";
  if (!fd.valid() ||
      ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::fsync(fd.get()) != 0)
    RaiseLastIoError();
}

void MailedOrders::Look(const stars::FileHeader& host) {
  m_problemSeen = false;
  try {
    if (const std::optional<std::string> problem = MaildirProblem(m_maildir)) {
      LogOnce(*problem);
      return;
    }
    const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
    if (MailRecordPath(gameDir) != m_recordPath) {
      m_recordPath = MailRecordPath(gameDir);
      LoadRecord();
    }
    for (const Entry& entry : WaitingMessages(m_maildir + "/new")) Handle(entry.name, host);
    if (!m_problemSeen) m_loggedProblem.clear();
  } catch (const EInOutError& error) {
    LogOnce(std::string(error.what()));
  }
}

void MailedOrders::Handle(const std::string& name, const stars::FileHeader& host) {
  const std::string key = name.substr(0, name.find(':'));
  Handled& handled = m_handled[key];
  if (handled.done) return Finish(name, key, *handled.done, "");
  const std::string path = m_maildir + "/new/" + name;
  MailedMessage message;
  try {
    message = ReadMessageFile(path);
  } catch (const EInOutError& error) {
    // Gone meanwhile (another reader of the Maildir), or not ours to read.
    if (FileExists(path)) LogOnce(path + " cannot be read: " + error.what());
    return;
  }
  const GameSettings& game = m_records.game;
  std::vector<int> senderRows;
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);
    if (!player.isComputer() && player.problem.empty() && !message.sender.empty() &&
        Lower(Trimmed(player.address)) == message.sender)
      senderRows.push_back(n);
  }
  const std::string from =
      "mail " + key + " from " + (message.sender.empty() ? "nobody" : message.sender);
  if (senderRows.empty()) {
    // Forged or unknown: no mail goes to an address that is not a player's.
    return Finish(name, key, "", from + ": not a player of " + game.gameName + ", no answer");
  }
  const int answerRow = senderRows.front();
  const std::string player =
      "player " + std::to_string(answerRow) + " (" + game.player(answerRow).name + ")";
  if (!message.parsed) {
    if (!handled.answered) {
      Record(key + " answered");
      handled.answered = true;
      m_receipts.SendRefusal(
          answerRow,
          {"votre message reçu le " + ForceTimeText(m_clock.Now()) + " n'a pas été lu (" +
           (message.problem.rfind("larger", 0) == 0 ? std::string("plus de 2 Mo")
                                                    : std::string("illisible")) +
           ") : aucun fichier d'ordres n'en a été tiré."},
          host, ContentsHash(key).substr(0, 16));
    }
    return Finish(name, key, "", from + " (" + player + "): not read: " + message.problem);
  }

  bool forGame = false;
  std::vector<std::string> refused;
  std::map<int, std::string> placedNow;  // row -> hash of the file placed from this message
  for (const MailedFile& file : message.files) {
    const stars::GameFileRead read = stars::ParseGameFile(file.bytes);
    const std::string label = "le fichier " + ShownLabel(file) + " ne compte pas : ";
    if (read.read != stars::HeaderRead::kOk) {
      refused.push_back(label + OrderVerdictFrench(stars::OrderVerdict::kNotOrderFile) + ".");
      continue;
    }
    const int fileRow = read.header.playerIndex() + 1;
    if (read.header.gameId == host.gameId) forGame = true;
    const stars::OrderJudgement judgement = stars::JudgeOrder(read, host, fileRow);
    const std::string hash = ContentsHash(file.bytes);
    if (judgement.verdict != stars::OrderVerdict::kIn) {
      refused.push_back(label + RefusalReason(read, judgement.verdict) + ".");
    } else if (std::find(senderRows.begin(), senderRows.end(), fileRow) == senderRows.end()) {
      refused.push_back(label + "c'est le fichier du joueur " + std::to_string(fileRow) +
                        ", pas le vôtre.");
    } else if (placedNow.count(fileRow) != 0) {
      if (placedNow[fileRow] != hash)
        refused.push_back(label + "un autre fichier du joueur " + std::to_string(fileRow) +
                          " de ce message compte déjà.");
    } else {
      placedNow[fileRow] = hash;
      Place(key, fileRow, file.bytes, handled);
    }
  }
  const bool request = IsTurnRequest(message.subject, game.gameName);
  if (request) {
    forGame = true;
    if (!handled.turnSent) SendTurnAgain(key, answerRow, host, handled);
  } else if (message.files.empty()) {
    refused.push_back("votre message reçu le " + ForceTimeText(m_clock.Now()) +
                      " ne porte aucun fichier : aucun ordre reçu.");
  }
  if (!refused.empty() && !handled.answered) {
    Record(key + " answered");
    handled.answered = true;
    m_receipts.SendRefusal(answerRow, refused, host, ContentsHash(key).substr(0, 16));
  }
  std::string what = from + " (" + player + "): " + std::to_string(placedNow.size()) +
                     " file(s) placed, " + std::to_string(refused.size()) + " refused";
  if (request) what += ", turn file asked for";
  // A message with nothing of the game stays unread for the host's own mail client.
  Finish(name, key, forGame ? "S" : "", what);
}

bool MailedOrders::MayPlaceAgain(int row, long long since) const {
  const std::string& g = m_records.game.gameName;
  const std::string orderFile =
      m_records.host.repJeu + "/" + g + "/" + g + ".x" + std::to_string(row);
  struct stat st {};
  if (::stat(NativePath(orderFile).c_str(), &st) != 0) return true;
  return static_cast<long long>(st.st_mtim.tv_sec) < since;
}

void MailedOrders::Place(const std::string& key, int row, const std::string& bytes,
                         Handled& handled) {
  if (handled.placed.count(row) != 0) return;
  const auto placing = handled.placing.find(row);
  if (placing != handled.placing.end() && !MayPlaceAgain(row, placing->second)) {
    // Ours landed before the robot was stopped, or a newer file came since: either way, kept.
    LogEvent("info", "orders by mail: mail " + key + ": the order file of player " +
                         std::to_string(row) + " is not placed again");
    return;
  }
  const long long now = static_cast<long long>(std::time(nullptr));
  Record(key + " place " + std::to_string(row) + " " + std::to_string(now));
  handled.placing[row] = now;
  const std::string& g = m_records.game.gameName;
  const std::string orderFile =
      m_records.host.repJeu + "/" + g + "/" + g + ".x" + std::to_string(row);
  ReplaceFileContents(orderFile, bytes);
  Record(key + " placed " + std::to_string(row));
  handled.placed.insert(row);
  LogEvent("info", "orders by mail: " + orderFile + " placed from mail " + key);
}

void MailedOrders::SendTurnAgain(const std::string& key, int row, const stars::FileHeader& host,
                                 Handled& handled) {
  const GameSettings& game = m_records.game;
  const PlayerEntry& player = game.player(row);
  const std::string& g = game.gameName;
  const std::string who = "player " + std::to_string(row) + " (" + player.name + ")";
  const long long now = EpochSeconds(m_clock.Now());
  std::vector<long long>& sent = m_turnRequests[row];
  const auto today =
      std::count_if(sent.begin(), sent.end(), [&](long long at) { return at > now - kDay; });
  if (today >= kTurnRequestsPerDay) {
    LogEvent("warning", "orders by mail: the turn file asked for by " + who + " in mail " + key +
                            " not sent: " + std::to_string(kTurnRequestsPerDay) +
                            " went in the last 24 hours");
    return;
  }
  const std::string name = g + ".m" + std::to_string(row);
  const std::string published = m_records.host.publicationDir + "/" + g + "/" + name;
  if (!FileExists(NativePath(published))) {
    LogEvent("warning", "orders by mail: the turn file asked for by " + who + " not sent: no " +
                            published + " yet");
    return;
  }
  Record(key + " turn " + std::to_string(row) + " " + std::to_string(now));
  handled.turnSent = true;
  sent.push_back(now);
  const std::string yearText = std::to_string(host.year());
  // The subject of the turn mail that brought this file: it names the year played.
  const std::string subject =
      g + " année " + std::to_string(host.turn > 0 ? host.year() - 1 : host.year());
  const MonitorState& state = m_records.monitor;
  LogEvent("info", "orders by mail: turn file " + name + " sent again to " + who);
  const std::string savedDir = GetCurrentDir();
  m_mailer.SendEmail(
      player.name, player.address, subject,
      "votre fichier .M de l'année " + yearText +
          " est en attachement, envoyé à nouveau à votre demande." + kParagraph +
          "DL : " + (state.deadlineKnown ? state.deadlineText : std::string("pas encore connue")) +
          kParagraph + GamePageLink(m_link, game),
      published, name,
      MailIdentity{g, yearText, row, "turn-again-" + ContentsHash(key).substr(0, 16), true});
  SetCurrentDir(savedDir);
}

void MailedOrders::Finish(const std::string& name, const std::string& key, const std::string& flags,
                          const std::string& why) {
  Handled& handled = m_handled[key];
  if (!handled.done) {
    Record(key + " done " + (flags.empty() ? std::string("-") : flags));
    handled.done = flags;
  }
  if (!why.empty()) LogEvent("info", "orders by mail: " + why);
  const std::string from = m_maildir + "/new/" + name;
  const std::string to = m_maildir + "/cur/" + key + ":2," + flags;
  if (::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
    LogOnce(from + " not moved to cur/: " + std::strerror(errno));
}

}  // namespace ventari
