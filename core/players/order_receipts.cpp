#include "core/players/order_receipts.h"

#include <cstdlib>
#include <fstream>
#include <utility>

#include "core/game/game_store.h"
#include "core/game/records.h"
#include "core/turn/forced_turn.h"
#include "mail/mail_message.h"
#include "mail/mail_results.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

namespace {

std::chrono::system_clock::time_point FromNs(std::int64_t ns) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::nanoseconds(ns)));
}

// The header of an order file that does not count, to name its year or its player; nothing
// when it cannot be read.
std::optional<stars::FileHeader> OrderFileHeader(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes(18, '\0');
  if (!file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  stars::FileHeader header;
  if (stars::ParseFileHeader(bytes, header) != stars::HeaderError::kNone) return std::nullopt;
  return header;
}

}  // namespace

std::string GamePageLink(const MailLink& link, const GameSettings& game) {
  return link.Paragraph(game) + "Ventari Robot";
}

bool ReceiptsOnFromEnvironment() {
  const char* text = std::getenv("VENTARI_RECEIPTS");
  return text == nullptr || std::string(text) != "0";
}

std::string ReceiptRecordPath(const std::string& gameDir) {
  return gameDir + "/ventari-receipts.txt";
}

OrderReceipts::OrderReceipts(ProgramRecords& records, Mailer& mailer, const Clock& clock,
                             MailLink link, bool on)
    : m_records(records), m_mailer(mailer), m_clock(clock), m_link(std::move(link)), m_on(on) {}

std::optional<OrderReceipts::Receipt> OrderReceipts::LastReceipt(const std::string& gameDir,
                                                                 int row) const {
  GameStore store(gameDir, GameStore::Access::kRead);
  GameStore::Query query =
      store.Select("SELECT turn, hash, at, accepted FROM receipt WHERE row = ?", row);
  if (!query.Step()) return std::nullopt;
  return Receipt{static_cast<int>(query.Int(0)), query.Text(1), query.Int(2), query.Int(3) != 0};
}

bool OrderReceipts::Record(const std::string& gameDir, int row, const Receipt& receipt) {
  try {
    GameStore store(gameDir, GameStore::Access::kWrite);
    store.Run("INSERT OR REPLACE INTO receipt(row, turn, hash, at, accepted) VALUES(?, ?, ?, ?, ?)",
              row, receipt.turn, receipt.hash, receipt.at, receipt.accepted ? 1 : 0);
  } catch (const EInOutError& error) {
    // Unrecorded, the same receipt would go at every look.
    if (m_failedRecord != gameDir) LogEvent("error", std::string("no receipts: ") + error.what());
    m_failedRecord = gameDir;
    return false;
  }
  m_failedRecord.clear();
  return true;
}

bool OrderReceipts::AddToReceipt(int row, int turn, const std::string& hash,
                                 const std::vector<std::string>& refused) {
  if (!m_on || row < 1 || row >= static_cast<int>(m_notes.size())) return false;
  const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
  const std::optional<Receipt> last = LastReceipt(gameDir, row);
  if (last && last->turn == turn && last->hash == hash) return false;
  m_notes[static_cast<std::size_t>(row)] = Notes{turn, hash, refused};
  return true;
}

void OrderReceipts::Look(int row, const std::string& orderFile,
                         const std::optional<FileVersion>& version,
                         const stars::OrderJudgement& judgement, const stars::FileHeader& host) {
  if (!m_on || row < 1 || row >= static_cast<int>(m_refuseAt.size())) return;
  std::optional<std::chrono::system_clock::time_point>& refuseAt =
      m_refuseAt[static_cast<std::size_t>(row)];
  refuseAt.reset();
  // A file gone sends nothing: the player learns it from the reminder or the turn.
  if (!version || judgement.verdict == stars::OrderVerdict::kMissing) return;
  const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
  // Keyed on the bytes and the turn: a restore or a copy of the same file is the same orders.
  const std::optional<Receipt> last = LastReceipt(gameDir, row);
  if (last && last->turn == host.turn && last->hash == version->contentsHash) return;
  if (judgement.verdict == stars::OrderVerdict::kIncomplete) {
    // Still arriving, perhaps: refused only once it has stayed as it is.
    const auto settled = FromNs(version->modifiedNs) + kSettleTime;
    if (std::chrono::system_clock::now() < settled) {
      refuseAt = settled;
      return;
    }
  }
  const PlayerEntry& player = m_records.game.player(row);
  if (player.isComputer()) return;
  const Receipt receipt{host.turn, version->contentsHash, EpochSeconds(m_clock.Now()),
                        judgement.verdict == stars::OrderVerdict::kIn};
  if (!IsPlainAddress(player.address)) {
    if (Record(gameDir, row, receipt))
      LogEvent("warning", "no receipt to player " + std::to_string(row) + " (" + player.name +
                              "): the address '" + player.address + "' is no plain address");
    return;
  }
  // Recorded before the mail: a robot killed while sending may leave one receipt unsent, never
  // send one twice.
  if (!Record(gameDir, row, receipt)) return;
  // Orders of this turn that counted and are replaced: the player sees a replacement he did not
  // make.
  const bool replaces =
      receipt.accepted && last && last->turn == host.turn && last->accepted && last->at > 0;
  Send(row, orderFile, judgement, host, receipt, replaces ? last : std::optional<Receipt>());
}

void OrderReceipts::Send(int row, const std::string& orderFile,
                         const stars::OrderJudgement& judgement, const stars::FileHeader& host,
                         const Receipt& receipt, const std::optional<Receipt>& replaced) {
  Notes notes = std::move(m_notes[static_cast<std::size_t>(row)]);
  m_notes[static_cast<std::size_t>(row)] = {};
  if (notes.turn != receipt.turn || notes.hash != receipt.hash) notes.refused.clear();
  const int year = host.year();
  const GameSettings& game = m_records.game;
  const MonitorState& state = m_records.monitor;
  const PlayerEntry& player = game.player(row);
  const std::string& g = game.gameName;
  const std::string yearText = std::to_string(year);
  const std::string deadline =
      state.deadlineKnown ? state.deadlineText : std::string("pas encore connue");
  const std::string link = GamePageLink(m_link, game);
  const std::string fileName = g + ".x" + std::to_string(row);
  const bool accepted = judgement.verdict == stars::OrderVerdict::kIn;
  std::string subject, body, logged;
  if (accepted) {
    subject = g + " année " + yearText + " : ordres reçus";
    // A game over plays no more turns: its host file says so.
    body = "vos ordres de l'année " + yearText +
           (host.gameOver() ? " sont arrivés, mais la partie est terminée : aucun tour ne sera "
                              "plus joué."
                            : " sont arrivés : ils seront joués.");
    if (replaced)
      body += kParagraph + ("ces ordres remplacent ceux reçus le " +
                            ForceTimeText(LocalDateTime(replaced->at)) + ".");
    if (judgement.savedOnly)
      body += kParagraph + ("le fichier " + fileName +
                            " a été sauvegardé sans être soumis : le jeu le jouera tel quel.");
    if (!notes.refused.empty()) {
      body += kParagraph;
      for (const std::string& sentence : notes.refused) body += sentence + "\n";
      body.pop_back();
    }
    body += kParagraph + ("DL : " + deadline) + kParagraph + link;
    logged = "accepted " + orderFile + (judgement.savedOnly ? " (saved, not submitted)" : "");
  } else {
    const std::string reason = RefusalReason(judgement.verdict, OrderFileHeader(orderFile));
    subject = g + " année " + yearText + " : ordres refusés";
    notes.refused.insert(notes.refused.begin(), "le fichier " + fileName + " reçu le " +
                                                    ForceTimeText(m_clock.Now()) +
                                                    " ne compte pas : " + reason + ".");
    body = RefusalBody(notes.refused, host);
    logged = "refused " + orderFile + ": " + reason;
  }
  LogEvent("info",
           "receipt to player " + std::to_string(row) + " (" + player.name + "): " + logged);
  KeepingWorkingFolder([&] {
    m_mailer.SendEmail(
        player.name, player.address, subject, body, std::nullopt, std::nullopt,
        MailIdentity{g, yearText, row,
                     "receipt-" + receipt.hash.substr(0, 16) + "-" + std::to_string(receipt.at),
                     true});
  });
}

std::string OrderReceipts::RefusalBody(const std::vector<std::string>& refused,
                                       const stars::FileHeader& host) const {
  const MonitorState& state = m_records.monitor;
  const std::string deadline =
      state.deadlineKnown ? state.deadlineText : std::string("pas encore connue");
  std::string body;
  for (const std::string& sentence : refused) body += sentence + "\n";
  if (!body.empty()) body.pop_back();
  // Past the deadline, asking for them "before" it would be false: the turn waits for them.
  const bool passed = state.deadlineKnown && m_clock.Now() > state.deadline;
  const std::string again =
      passed ? "la date limite est passée (DL : " + deadline +
                   ") et le tour attend vos ordres : renvoyez vos ordres de l'année " +
                   std::to_string(host.year()) + " au plus vite."
             : "renvoyez vos ordres de l'année " + std::to_string(host.year()) +
                   " avant la date limite (DL : " + deadline + ").";
  return body + kParagraph + again + kParagraph + GamePageLink(m_link, m_records.game);
}

void OrderReceipts::SendRefusal(int row, const std::vector<std::string>& refused,
                                const stars::FileHeader& host, const std::string& key) {
  const PlayerEntry& player = m_records.game.player(row);
  const std::string& g = m_records.game.gameName;
  const std::string yearText = std::to_string(host.year());
  if (!m_on || !IsPlainAddress(player.address)) {
    LogEvent("info", "no refusal mailed to player " + std::to_string(row) + " (" + player.name +
                         (m_on ? "): the address is no plain address" : "): receipts are off"));
    return;
  }
  LogEvent("info", "refusal to player " + std::to_string(row) + " (" + player.name + ")");
  KeepingWorkingFolder([&] {
    m_mailer.SendEmail(player.name, player.address, g + " année " + yearText + " : ordres refusés",
                       RefusalBody(refused, host), std::nullopt, std::nullopt,
                       MailIdentity{g, yearText, row, "mail-refused-" + key, true});
  });
}

std::optional<std::chrono::milliseconds> OrderReceipts::LookAgainIn() const {
  std::optional<std::chrono::milliseconds> soonest;
  const auto now = std::chrono::system_clock::now();
  for (const auto& at : m_refuseAt) {
    if (!at) continue;
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*at - now) +
                std::chrono::milliseconds(500);
    if (wait < std::chrono::milliseconds(0)) wait = std::chrono::milliseconds(0);
    if (!soonest || wait < *soonest) soonest = wait;
  }
  return soonest;
}

}  // namespace ventari
