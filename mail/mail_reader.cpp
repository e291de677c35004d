#include "mail/mail_reader.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>

#include "mail/gmime_support.h"
#include "mail/mail_headers.h"

namespace ventari {

namespace {

// No mail client nests parts this deep; the parser recurses once per level, so a message of
// thousands of levels would end the robot on its stack.
constexpr std::size_t kMostNestedParts = 32;
// The header of a message refused for its size is looked for in its first bytes only.
constexpr std::size_t kMostHeaderBytes = 64 * 1024;

// Each container part names its type once ("multipart/...", "message/..."): counting these in
// the raw bytes bounds the nesting before the parser sees it (a count too high for a fair
// message, never too low).
std::size_t ContainerParts(std::string_view bytes) {
  const std::string lower = LowerAscii(bytes);
  std::size_t count = 0;
  for (const char* word : {"multipart/", "message/"})
    for (std::size_t at = lower.find(word); at != std::string::npos; at = lower.find(word, at + 1))
      ++count;
  return count;
}

GRef<GMimeMessage> Parse(std::string_view bytes) {
  EnsureGMimeReady();
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  return GRef<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

// What the header says as it stands: GMime's lenient reading of From would widen a forged one.
void ReadHeader(std::string_view bytes, GMimeMessage* message, MailedMessage& read) {
  read.fields = RawHeaderFields(bytes);
  const PlainSender sender = SenderOfFields(read.fields);
  read.sender = sender.address;
  read.senderProblem = sender.problem;
  read.automatic = AutomaticReason(read.fields);
  for (const auto& [name, value] : read.fields) {
    if (name == "message-id" && read.messageId.empty()) {
      std::string id = value;
      const std::size_t open = id.find('<');
      if (open != std::string::npos) id = id.substr(open + 1, id.find('>', open) - open - 1);
      read.messageId = ShownText(id, 250);
      while (!read.messageId.empty() && read.messageId.back() == ' ') read.messageId.pop_back();
    } else if (name == "date" && !read.date) {
      GDateTime* date = g_mime_utils_header_decode_date(value.c_str());
      if (date != nullptr) {
        read.date = g_date_time_to_unix(date);
        g_date_time_unref(date);
      }
    }
  }
  const char* subject = g_mime_message_get_subject(message);
  read.subject = subject == nullptr ? std::string() : ShownText(subject, 200);
}

std::string Decoded(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return {};
  GRef<GMimeStream> out(g_mime_stream_mem_new());
  if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0) return {};
  const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

// The message's text: a text part with no file name that is not marked as an attachment.
bool IsText(GMimeObject* object, GMimePart* part) {
  const char* disposition = g_mime_object_get_disposition(object);
  return g_mime_content_type_is_type(g_mime_object_get_content_type(object), "text", "*") &&
         g_mime_part_get_filename(part) == nullptr &&
         (disposition == nullptr || g_ascii_strcasecmp(disposition, "attachment") != 0);
}

// Every file of the message; a message forwarded inside it is someone else's, not looked into.
void CollectFiles(GMimeObject* object, std::size_t depth, MailedMessage& read) {
  if (object == nullptr || depth > kMostNestedParts) return;
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i)
      CollectFiles(g_mime_multipart_get_part(multipart, i), depth + 1, read);
    return;
  }
  if (!GMIME_IS_PART(object)) return;
  GMimePart* part = GMIME_PART(object);
  if (IsText(object, part)) return;
  const char* name = g_mime_part_get_filename(part);
  read.files.push_back({name == nullptr ? std::string() : ShownText(name, 80), Decoded(part)});
}

}  // namespace

std::string ShownText(std::string_view text, std::size_t longest) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    shown += byte < 0x20 || byte == 0x7F ? ' ' : c;
  }
  if (shown.size() > longest) {
    std::size_t cut = longest;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80) --cut;
    shown.resize(cut);
  }
  return shown;
}

MailedMessage ReadMailedHeader(std::string_view bytes) {
  MailedMessage read;
  bytes = bytes.substr(0, kMostHeaderBytes);
  std::size_t end = bytes.find("\n\n");
  const std::size_t crlfEnd = bytes.find("\r\n\r\n");
  if (crlfEnd != std::string_view::npos && (end == std::string_view::npos || crlfEnd < end))
    end = crlfEnd;
  const std::string header = std::string(bytes.substr(0, end)) + "\n\n";
  GRef<GMimeMessage> message = Parse(header);
  if (!message) {
    read.problem = "no mail header";
    return read;
  }
  ReadHeader(header, message.get(), read);
  read.parsed = true;
  return read;
}

MailedMessage ReadMailedMessage(std::string_view bytes) {
  if (bytes.size() > kMaxMailedMessageBytes) {
    MailedMessage read = ReadMailedHeader(bytes);
    read.parsed = false;
    read.problem = "larger than " + std::to_string(kMaxMailedMessageBytes) + " bytes";
    return read;
  }
  if (ContainerParts(bytes) > kMostNestedParts) {
    MailedMessage read = ReadMailedHeader(bytes);
    read.parsed = false;
    read.problem = "more than " + std::to_string(kMostNestedParts) + " nested parts";
    return read;
  }
  MailedMessage read;
  GRef<GMimeMessage> message = Parse(bytes);
  if (!message) {
    read.problem = "not a mail message";
    return read;
  }
  ReadHeader(bytes, message.get(), read);
  CollectFiles(g_mime_message_get_mime_part(message.get()), 0, read);
  read.parsed = true;
  return read;
}

}  // namespace ventari
