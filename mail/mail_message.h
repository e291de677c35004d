#pragma once
// Building one outgoing message as MIME bytes, ready for a sendmail program: one To recipient,
// the game's sender, subject, date, a UTF-8 text body and at most one attached file, marked as
// sent by a robot.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ventari {

// Each "\r\n", "\n\r", lone "\n" and lone "\r" becomes one "\n", so "\n\r\n\r" is one blank line.
std::string CanonicalLineBreaks(std::string_view text);

// The largest file taken as an attachment; a turn file is a few KiB.
inline constexpr std::size_t kMaxAttachmentBytes = std::size_t{16} << 20;

// True for one bare address, local part "@" domain: no display name, brackets, list separator,
// blank, quote or control character.
bool IsPlainAddress(std::string_view address);

struct MailIdentity;

// "<kind.row.year.game.ventari@host>", with ".round" before "@" when there is one, each piece
// kept to the letters, digits, "-" and "_" a message id may hold (others written "=XX"): the
// same mail, the same id.
std::string MessageIdOf(const MailIdentity& identity);

struct BuiltMessage {
  // kMailSuccess, or 11 / 12 when the attachment could not be taken (12 also for a file larger
  // than kMaxAttachmentBytes, refused before it is read)
  int result = 0;
  std::string bytes;  // the whole message with "\n" line ends; empty when result is not 0
};

// What a message says of itself beyond its recipient and contents.
struct MessageHeaders {
  std::string messageId;  // without its brackets; empty for one made at random
  // From; without a plain address, no From: the mail system gives the sender.
  std::string senderName;
  std::string senderAddress;
  // Auto-Submitted (RFC 3834): "auto-replied" for an answer to the recipient's own message,
  // else "auto-generated", so that vacation responders and list servers leave it alone.
  bool reply = false;
};

// The attachment path has "\" read as "/"; without an attachment name the file's own name is
// shown. Carriage returns and line feeds in the header texts become blanks, so no text can add a
// header (sendmail -t would take a smuggled Bcc as a recipient).
BuiltMessage BuildMailMessage(const std::string& name, const std::string& address,
                              const std::string& subject, const std::optional<std::string>& body,
                              const std::optional<std::string>& attachmentPath,
                              const std::optional<std::string>& attachmentName,
                              const MessageHeaders& headers = {});

}  // namespace ventari
