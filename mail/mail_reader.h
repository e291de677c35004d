#pragma once
// Reading a message that a player mailed to the host: its one sender, its subject and the files
// it carries, decoded. Nothing of it is trusted: a part's name is only shown, never a path, and
// a message built to exhaust the reader (too large, nested too deep) is not parsed at all.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ventari {

// No order file comes near it; a message past it is refused from its header alone.
inline constexpr std::size_t kMaxMailedMessageBytes = std::size_t{2} << 20;

struct MailedFile {
  std::string shownName;  // the part's file name made printable; empty when it gives none
  std::string bytes;      // decoded
};

struct MailedMessage {
  bool parsed = false;  // false: unreadable, `problem` says why (the sender may still be known)
  std::string problem;
  // The address alone of the one mailbox in From, in lower case; empty when From does not hold
  // exactly one plain address (`senderProblem` says why).
  std::string sender;
  std::string senderProblem;
  std::string subject;            // decoded, one line
  std::string messageId;          // as the sender wrote it, without brackets; empty when none
  std::optional<long long> date;  // seconds since the epoch; nothing when absent or unreadable
  std::string automatic;          // why a machine sent it; empty for a person's message
  std::vector<std::pair<std::string, std::string>> fields;  // the top-level header, as it stands
  std::vector<MailedFile> files;
};

// A whole message of at most kMaxMailedMessageBytes.
MailedMessage ReadMailedMessage(std::string_view bytes);

// Only the header of a message, e.g. the first bytes of one too large to read: sender and
// subject, never files.
MailedMessage ReadMailedHeader(std::string_view bytes);

// A name or text from a message, fit for a log line or a mail: control characters become
// blanks, and it is cut to `longest` bytes at a character's start.
std::string ShownText(std::string_view text, std::size_t longest = 80);

}  // namespace ventari
