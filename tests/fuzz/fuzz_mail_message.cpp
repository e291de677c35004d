// The reader of the players' mailed messages on any bytes: it must neither crash nor loop, and
// what it gives is safe to log and to mail (no control character, names cut short), whatever the
// message claims of itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mail/mail_headers.h"
#include "mail/mail_message.h"
#include "mail/mail_reader.h"

namespace {

bool Printable(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const ventari::MailedMessage read = ventari::ReadMailedMessage(bytes);
  if (!Printable(read.sender) || !Printable(read.subject) || read.subject.size() > 200)
    std::abort();
  for (const char c : read.sender)
    if (c >= 'A' && c <= 'Z') std::abort();  // compared with the players' in lower case
  // A sender is one plain address or nobody, with a reason.
  if (read.sender.empty() ? read.parsed && read.senderProblem.empty()
                          : !ventari::IsPlainAddress(read.sender))
    std::abort();
  if (!Printable(read.messageId)) std::abort();
  ventari::AuthenticationPasses(read.fields, "mx.test", "x.test");
  if (!read.parsed && !read.files.empty()) std::abort();
  for (const ventari::MailedFile& file : read.files)
    if (!Printable(file.shownName) || file.shownName.size() > 80) std::abort();
  return 0;
}
