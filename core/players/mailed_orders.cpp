#include "core/players/mailed_orders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>
#include <utility>

#include "core/game/daily_quota.h"
#include "core/game/records.h"
#include "core/players/order_file_judge.h"
#include "core/players/order_receipts.h"
#include "core/turn/forced_turn.h"
#include "mail/mail_headers.h"
#include "mail/mail_message.h"
#include "mail/mail_reader.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace ventari {

namespace {

// Enough of a message too large to read to find its sender.
constexpr std::size_t kHeadBytes = 64 * 1024;

// The message's bytes: the whole of one that may be read, the head of one too large.
std::string ReadMessageBytes(const std::string& path, bool& tooLarge) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) RaiseLastIoError();
  tooLarge = static_cast<std::uint64_t>(st.st_size) > kMaxMailedMessageBytes;
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
  tooLarge = tooLarge || bytes.size() > kMaxMailedMessageBytes;
  return bytes;
}

// Why a mailed order file does not count, in the players' French.
std::string ShownLabel(const MailedFile& file) {
  return file.shownName.empty() ? std::string("sans nom") : "« " + file.shownName + " »";
}

bool IsTurnRequest(const std::string& subject, const std::string& game) {
  return LowerAscii(Trimmed(subject)) == "tour " + LowerAscii(game);
}

// An order or turn file of the game: the game's own, whatever its year or player.
bool OfTheGame(const stars::GameFileRead& file, const stars::FileHeader& host) {
  return file.read == stars::HeaderRead::kOk && file.header.gameId == host.gameId &&
         (file.header.fileType == stars::kOrderFile || file.header.fileType == stars::kTurnFile);
}

}  // namespace

std::string MailAuthservFromEnvironment() {
  const char* text = std::getenv("VENTARI_MAIL_AUTHSERV");
  return text == nullptr ? std::string() : Trimmed(text);
}

struct MailedOrders::Read {
  MailedMessage message;
  std::string identity;  // the Message-ID's hash, or the bytes' without one
  std::vector<std::pair<std::size_t, stars::GameFileRead>> gameFiles;  // index in files
  bool request = false;
  long long sentAt = 0;  // its Date, or its arrival when it has none or one in the future
};

MailedOrders::MailedOrders(ProgramRecords& records, Mailer& mailer, OrderReceipts& receipts,
                           const Clock& clock, MailLink link, std::string maildir,
                           std::string authserv)
    : m_records(records),
      m_mailer(mailer),
      m_receipts(receipts),
      m_clock(clock),
      m_link(std::move(link)),
      m_maildir(std::move(maildir)),
      m_authserv(std::move(authserv)) {
  while (m_maildir.size() > 1 && m_maildir.back() == '/') m_maildir.pop_back();
}

void MailedOrders::LogOnce(const std::string& problem) {
  m_problemSeen = true;
  if (m_loggedProblem == problem) return;
  m_loggedProblem = problem;
  LogEvent("error", "orders by mail: " + problem + "; the messages wait");
}

std::string MailedOrders::OrderFile(int row) const {
  const std::string& g = m_records.game.gameName;
  return m_records.host.repJeu + "/" + g + "/" + g + ".x" + std::to_string(row);
}

std::vector<int> MailedOrders::SenderRows(const std::string& sender) const {
  std::vector<int> rows;
  const GameSettings& game = m_records.game;
  for (int n = 1; n <= game.playerCount && !sender.empty(); ++n) {
    const PlayerEntry& player = game.player(n);
    if (!player.isComputer() && player.problem.empty() &&
        LowerAscii(Trimmed(player.address)) == sender)
      rows.push_back(n);
  }
  return rows;
}

bool MailedOrders::LoadRecord() {
  const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
  const std::string path = MailRecordPath(gameDir);
  if (path != m_record.path() || m_record.since() == 0) {
    m_settled.clear();
    m_record.Load(path, static_cast<long long>(std::time(nullptr)));
  }
  std::string players;
  for (int n = 1; n <= m_records.game.playerCount; ++n)
    players += m_records.game.player(n).address + "\n";
  if (players != m_playersSeen) {
    // An address mended: the messages that waited for their sender to be a player are read again.
    m_playersSeen = players;
    for (auto it = m_settled.begin(); it != m_settled.end();)
      it = it->second.forSender ? m_settled.erase(it) : std::next(it);
  }
  return true;
}

std::vector<MaildirEntry> MailedOrders::Unsettled() {
  std::vector<MaildirEntry> entries;
  for (MaildirEntry& entry : ListMaildir(m_maildir)) {
    const auto settled = m_settled.find(entry.key);
    if (settled != m_settled.end() && settled->second.inNew == entry.inNew) continue;
    if (entry.Stat(m_maildir)) entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const MaildirEntry& a, const MaildirEntry& b) {
    return std::tie(a.arrivedNs, a.name) < std::tie(b.arrivedNs, b.name);
  });
  return entries;
}

void MailedOrders::Look(const stars::FileHeader& host) {
  m_problemSeen = false;
  try {
    if (const std::optional<std::string> problem = MaildirProblem(m_maildir)) {
      LogOnce(*problem);
      return;
    }
    const std::string game =
        m_records.host.repJeu + "/" + m_records.game.gameName + " " + std::to_string(host.gameId);
    if (game != m_gameSeen) {
      m_gameSeen = game;
      m_settled.clear();
    }
    LoadRecord();
    for (const MaildirEntry& entry : Unsettled()) Handle(entry, host);
    if (!m_problemSeen) m_loggedProblem.clear();
  } catch (const EInOutError& error) {
    LogOnce(std::string(error.what()));
  }
}

std::size_t MailedOrders::Waiting(const stars::FileHeader& host) {
  if (MaildirProblem(m_maildir)) return 0;
  const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
  m_record.Load(MailRecordPath(gameDir), static_cast<long long>(std::time(nullptr)),
                /*mark=*/false);
  std::size_t waiting = 0;
  for (MaildirEntry& entry : ListMaildir(m_maildir)) {
    const MessageSteps* steps = m_record.Steps(entry.key);
    if ((steps && steps->done) || !entry.Stat(m_maildir) ||
        (!entry.inNew && !steps && entry.arrivedAt < m_record.since()))
      continue;
    const std::optional<Read> read = ReadEntry(entry, host);
    if (read && Fate(entry, *read) == MessageFate::kTake) ++waiting;
  }
  return waiting;
}

std::optional<MailedOrders::Read> MailedOrders::ReadEntry(const MaildirEntry& entry,
                                                          const stars::FileHeader& host) {
  const std::string path = entry.Path(m_maildir);
  Read read;
  try {
    bool tooLarge = false;
    const std::string bytes = ReadMessageBytes(path, tooLarge);
    if (tooLarge) {
      read.message = ReadMailedHeader(bytes);
      read.message.parsed = false;
      read.message.problem = "larger than " + std::to_string(kMaxMailedMessageBytes) + " bytes";
    } else {
      read.message = ReadMailedMessage(bytes);
    }
    read.identity = read.message.messageId.empty()
                        ? "bytes-" + ContentsHash(bytes).substr(0, 32)
                        : "id-" + ContentsHash(read.message.messageId).substr(0, 32);
  } catch (const EInOutError& error) {
    // Gone meanwhile (another reader of the Maildir), or not ours to read.
    if (FileExists(path)) LogOnce(path + " cannot be read: " + error.what());
    return std::nullopt;
  }
  for (std::size_t i = 0; i < read.message.files.size(); ++i) {
    stars::GameFileRead file = stars::ParseGameFile(read.message.files[i].bytes);
    if (OfTheGame(file, host)) read.gameFiles.emplace_back(i, file);
  }
  read.request = IsTurnRequest(read.message.subject, m_records.game.gameName);
  // No message is sent after it arrived: a Date in the future says nothing.
  read.sentAt = read.message.date && *read.message.date <= entry.arrivedAt ? *read.message.date
                                                                           : entry.arrivedAt;
  return read;
}

MessageFate MailedOrders::Fate(const MaildirEntry& entry, const Read& read) const {
  if (read.gameFiles.empty() && !read.request) return MessageFate::kNotOurs;
  if (!read.message.automatic.empty()) return MessageFate::kMachine;
  const std::string& sender = read.message.sender;
  if (SenderRows(sender).empty()) return MessageFate::kStranger;
  if (!m_authserv.empty() &&
      !AuthenticationPasses(read.message.fields, m_authserv, sender.substr(sender.rfind('@') + 1)))
    return MessageFate::kUnauthenticated;
  const std::string first = m_record.KeyOf(read.identity);
  if (!first.empty() && first != entry.key) return MessageFate::kAgain;
  return MessageFate::kTake;
}

void MailedOrders::Handle(const MaildirEntry& entry, const stars::FileHeader& host) {
  const std::string& key = entry.key;
  const MessageSteps* steps = m_record.Steps(key);
  if (steps && steps->done) {
    if (entry.inNew)
      LogEvent("info", "orders by mail: mail " + key +
                           " is in new/ again; it was handled already and is left as it is");
    return Settle(entry);
  }
  // What a mail client moved to cur/ before the robot ever looked is the host's past mail.
  if (!entry.inNew && !steps && entry.arrivedAt < m_record.since()) return Settle(entry);
  const std::optional<Read> read = ReadEntry(entry, host);
  if (!read) return;
  const MailedMessage& message = read->message;
  const std::string from =
      "mail " + key + " from " +
      (message.sender.empty() ? "nobody (" + message.senderProblem + ")" : message.sender);
  const std::string& g = m_records.game.gameName;
  switch (Fate(entry, *read)) {
    case MessageFate::kNotOurs:
      if (!message.parsed && !SenderRows(message.sender).empty())
        LogEvent("info", "orders by mail: " + from + ": not read (" + message.problem +
                             "), left for the host");
      return Settle(entry);
    case MessageFate::kMachine:
      LogEvent("info", "orders by mail: " + from + ": sent by a machine (" + message.automatic +
                           "), left for the host, no answer");
      return Settle(entry);
    case MessageFate::kStranger:
      // Forged or unknown: no mail goes to an address that is not a player's.
      LogEvent("info", "orders by mail: " + from + ": not a player of " + g +
                           ", left for the host, no answer");
      return Settle(entry, /*forSender=*/true);
    case MessageFate::kUnauthenticated:
      LogEvent("info", "orders by mail: " + from + ": not vouched for by " + m_authserv +
                           " (Authentication-Results), left for the host, no answer");
      return Settle(entry, /*forSender=*/true);
    case MessageFate::kAgain:
      return Finish(entry, from + ": the message of mail " + m_record.KeyOf(read->identity) +
                               " delivered again, not handled again");
    case MessageFate::kTake:
      return Act(entry, *read, host);
  }
}

void MailedOrders::Act(const MaildirEntry& entry, const Read& read, const stars::FileHeader& host) {
  const std::string& key = entry.key;
  if (const MessageSteps* steps = m_record.Steps(key); !steps || steps->identity.empty())
    m_record.Begin(key, read.identity);
  const MailedMessage& message = read.message;
  const std::vector<int> rows = SenderRows(message.sender);
  std::vector<std::string> refused;
  std::optional<std::string> firstReason;  // the sender's page shows it while nothing counts
  std::map<int, std::string> placedNow;    // row -> hash of the file this message gives it
  for (const auto& [index, file] : read.gameFiles) {
    const MailedFile& mailed = message.files[index];
    const int fileRow = file.header.playerIndex() + 1;
    const stars::OrderJudgement judgement = stars::JudgeOrder(file, host, fileRow);
    const std::string hash = ContentsHash(mailed.bytes);
    const std::string label = "le fichier " + ShownLabel(mailed) + " ne compte pas : ";
    std::optional<std::string> newer;
    if (judgement.verdict != stars::OrderVerdict::kIn) {
      const std::string reason = RefusalReason(
          judgement.verdict,
          file.read == stars::HeaderRead::kOk ? std::optional(file.header) : std::nullopt);
      refused.push_back(label + reason + ".");
      if (!firstReason) firstReason = reason;
    } else if (std::find(rows.begin(), rows.end(), fileRow) == rows.end()) {
      const std::string reason =
          "c'est le fichier du joueur " + std::to_string(fileRow) + ", pas le vôtre";
      refused.push_back(label + reason + ".");
      if (!firstReason) firstReason = reason;
    } else if (placedNow.count(fileRow) != 0) {
      if (placedNow[fileRow] != hash)
        refused.push_back(label + "un autre fichier du joueur " + std::to_string(fileRow) +
                          " de ce message compte déjà.");
    } else if ((newer = NewerOrdersThere(fileRow, read.sentAt, host))) {
      refused.push_back(label + *newer + ".");
    } else {
      placedNow[fileRow] = hash;
      Place(key, fileRow, mailed.bytes, {read.sentAt, hash.substr(0, 16)});
    }
  }
  if (read.request)
    for (const int row : rows) SendTurnAgain(key, row, host);
  const MessageSteps* steps = m_record.Steps(key);
  if (!refused.empty() && !steps->answered) {
    m_record.Answered(key);
    // One answer to one message: the receipt of the file placed names the others.
    const bool inReceipt =
        !placedNow.empty() && m_receipts.AddToReceipt(placedNow.begin()->first, host.turn,
                                                      placedNow.begin()->second, refused);
    if (!inReceipt)
      m_receipts.SendRefusal(rows.front(), refused, host, ContentsHash(key).substr(0, 16));
  }
  const int row = rows.front();
  if (placedNow.count(row) != 0)
    m_refusals.erase(row);
  else if (firstReason)
    m_refusals[row] = {host.turn, *firstReason};
  std::string what = "mail " + key + " from " + message.sender + " (player " + std::to_string(row) +
                     " (" + m_records.game.player(row).name +
                     ")): " + std::to_string(placedNow.size()) + " file(s) placed, " +
                     std::to_string(refused.size()) + " refused";
  if (read.request) what += ", turn file asked for";
  Finish(entry, what);
}

std::optional<std::string> MailedOrders::NewerOrdersThere(int row, long long sentAt,
                                                          const stars::FileHeader& host) const {
  const std::string path = NativePath(OrderFile(row));
  std::string bytes;
  if (stars::JudgeOrderFile(path, host, row, &bytes).verdict != stars::OrderVerdict::kIn)
    return std::nullopt;
  // Orders placed from a message came in when it was sent; others when the file was written.
  long long cameIn = 0;
  const std::optional<MailedPlacement> last = m_record.LastPlacement(row);
  struct stat st {};
  if (last && last->hash == ContentsHash(bytes).substr(0, 16))
    cameIn = last->sentAt;
  else if (::stat(path.c_str(), &st) == 0)
    cameIn = static_cast<long long>(st.st_mtim.tv_sec);
  if (sentAt >= cameIn) return std::nullopt;
  return "il est plus ancien que les ordres reçus le " + ForceTimeText(LocalDateTime(cameIn));
}

bool MailedOrders::MayPlaceAgain(int row, long long since) const {
  struct stat st {};
  if (::stat(NativePath(OrderFile(row)).c_str(), &st) != 0) return true;
  return static_cast<long long>(st.st_mtim.tv_sec) < since;
}

bool MailedOrders::Place(const std::string& key, int row, const std::string& bytes,
                         const MailedPlacement& placement) {
  const MessageSteps* steps = m_record.Steps(key);
  if (steps && steps->placed.count(row) != 0) return false;
  if (steps) {
    const auto placing = steps->placing.find(row);
    if (placing != steps->placing.end() && !MayPlaceAgain(row, placing->second)) {
      // Ours landed before the robot was stopped, or a newer file came since: either way, kept.
      LogEvent("info", "orders by mail: mail " + key + ": the order file of player " +
                           std::to_string(row) + " is not placed again");
      return false;
    }
  }
  m_record.BeginPlacing(key, row, static_cast<long long>(std::time(nullptr)));
  const std::string orderFile = OrderFile(row);
  ReplaceFileContents(orderFile, bytes);
  m_record.Placed(key, row, placement);
  LogEvent("info", "orders by mail: " + orderFile + " placed from mail " + key);
  return true;
}

void MailedOrders::SendTurnAgain(const std::string& key, int row, const stars::FileHeader& host) {
  if (m_record.Steps(key)->turnSent.count(row) != 0) return;
  const GameSettings& game = m_records.game;
  const PlayerEntry& player = game.player(row);
  const std::string& g = game.gameName;
  const std::string who = "player " + std::to_string(row) + " (" + player.name + ")";
  const long long now = EpochSeconds(m_clock.Now());
  if (NextAllowedAt(m_record.TurnsSent(row), now, kTurnRequestsPerDay)) {
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
  m_record.TurnSent(key, row, now);
  const std::string yearText = std::to_string(host.year());
  // The subject of the turn mail that brought this file names the year played; the receipts
  // name the year the orders are for. The text says both, as those mails do.
  const std::string played = std::to_string(host.turn > 0 ? host.year() - 1 : host.year());
  const std::string subject = g + " année " + played;
  const std::string file = host.turn > 0 ? "votre fichier .M de la génération année " + played
                                         : std::string("votre premier fichier .M");
  const MonitorState& state = m_records.monitor;
  LogEvent("info", "orders by mail: turn file " + name + " sent again to " + who);
  KeepingWorkingFolder([&] {
    m_mailer.SendEmail(
        player.name, player.address, subject,
        file + " est en attachement, envoyé à nouveau à votre demande : il sert à vos ordres de " +
            "l'année " + yearText + "." + kParagraph + "DL : " +
            (state.deadlineKnown ? state.deadlineText : std::string("pas encore connue")) +
            kParagraph + GamePageLink(m_link, game),
        published, name,
        MailIdentity{g, yearText, row, "turn-again-" + ContentsHash(key).substr(0, 16), true});
  });
}

std::optional<std::string> MailedOrders::Refusal(int row, int turn) const {
  const auto found = m_refusals.find(row);
  if (found == m_refusals.end() || found->second.turn != turn) return std::nullopt;
  return found->second.reason;
}

void MailedOrders::Finish(const MaildirEntry& entry, const std::string& why) {
  // Filed first, then recorded: a robot killed between the two finds the message in cur/ and
  // runs its recorded steps again, each a no-op.
  if (!FileWithFlag(m_maildir, entry, 'S') && errno != ENOENT) {
    LogOnce(entry.Path(m_maildir) + " not filed in cur/: " + std::strerror(errno));
    return;
  }
  m_record.Done(entry.key, "S");
  if (!why.empty()) LogEvent("info", "orders by mail: " + why);
  MaildirEntry filed = entry;
  filed.inNew = false;
  Settle(filed);
}

void MailedOrders::Settle(const MaildirEntry& entry, bool forSender) {
  m_settled[entry.key] = Settled{entry.inNew, forSender};
}

}  // namespace ventari
