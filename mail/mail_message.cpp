#include "mail/mail_message.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "mail/gmime_support.h"
#include "mail/mail_results.h"
#include "mail/mailer.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace ventari {

namespace {

std::string HeaderText(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c == '\r' || c == '\n') c = ' ';
  return result;
}

// The file's bytes, or the result number telling why they cannot be had.
int ReadAttachment(const std::string& path, std::string& bytes) {
  // Non-blocking so that a FIFO given as the attachment cannot hang the program here.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid())
    return errno == ENOENT || errno == ENOTDIR ? kMailAttachmentNotFound
                                               : kMailAttachmentOpenFailure;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return kMailAttachmentOpenFailure;
  if (static_cast<std::uint64_t>(st.st_size) > kMaxAttachmentBytes)
    return kMailAttachmentOpenFailure;
  bytes.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return kMailAttachmentOpenFailure;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
    // A file growing while it is read is held to the same bound.
    if (bytes.size() > kMaxAttachmentBytes) return kMailAttachmentOpenFailure;
  }
  return kMailSuccess;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A part whose content is a copy of the bytes.
void SetContent(GMimePart* part, std::string_view bytes) {
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  GRef<GMimeDataWrapper> content(
      g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, content.get());
}

GRef<GMimeTextPart> TextPart(const std::optional<std::string>& body) {
  GRef<GMimeTextPart> text(g_mime_text_part_new_with_subtype("plain"));
  g_mime_text_part_set_charset(text.get(), "utf-8");
  SetContent(GMIME_PART(text.get()), CanonicalLineBreaks(body.value_or(std::string())));
  // 7bit when it is plain ASCII in short lines, else quoted-printable, which keeps the text
  // readable in the raw message.
  GMimePart* part = GMIME_PART(text.get());
  const bool plain = g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT) ==
                     GMIME_CONTENT_ENCODING_7BIT;
  g_mime_part_set_content_encoding(
      part, plain ? GMIME_CONTENT_ENCODING_7BIT : GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
  return text;
}

GRef<GMimePart> FilePart(std::string_view bytes, const std::string& shownName) {
  GRef<GMimePart> file(g_mime_part_new_with_type("application", "octet-stream"));
  g_mime_object_set_disposition(GMIME_OBJECT(file.get()), GMIME_DISPOSITION_ATTACHMENT);
  g_mime_part_set_filename(file.get(), shownName.c_str());
  // The name is UTF-8 like every text here; left alone, an 8-bit name would be labelled with
  // whatever charset happens to hold it.
  GMimeObject* object = GMIME_OBJECT(file.get());
  g_mime_param_set_charset(
      g_mime_param_list_get_parameter(
          g_mime_content_disposition_get_parameters(g_mime_object_get_content_disposition(object)),
          "filename"),
      "utf-8");
  g_mime_param_set_charset(
      g_mime_param_list_get_parameter(
          g_mime_content_type_get_parameters(g_mime_object_get_content_type(object)), "name"),
      "utf-8");
  SetContent(file.get(), bytes);
  g_mime_part_set_content_encoding(file.get(), GMIME_CONTENT_ENCODING_BASE64);
  return file;
}

}  // namespace

std::string CanonicalLineBreaks(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      result += c;
      continue;
    }
    result += '\n';
    // The other break character right after this one belongs to the same break.
    if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c)
      ++i;
  }
  return result;
}

bool IsPlainAddress(std::string_view address) {
  const std::size_t at = address.find('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string_view::npos)
    return false;
  for (const char c : address) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return false;
    if (std::string_view("<>()[],;:\\\"").find(c) != std::string_view::npos) return false;
  }
  return true;
}

namespace {

std::string IdPiece(const std::string& text, bool dots = false) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string piece;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || (dots && c == '.')) {
      piece += c;
    } else {
      piece += '=';
      piece += kHex[byte >> 4];
      piece += kHex[byte & 0xF];
    }
  }
  return piece.empty() ? "-" : piece;
}

}  // namespace

std::string MessageIdOf(const MailIdentity& identity) {
  EnsureGMimeReady();
  const std::string host = IdPiece(g_get_host_name(), /*dots=*/true);
  return IdPiece(identity.kind) + "." + std::to_string(identity.row) + "." +
         IdPiece(identity.year) + "." + IdPiece(identity.game) +
         (identity.round.empty() ? "" : "." + IdPiece(identity.round)) + ".ventari@" + host;
}

BuiltMessage BuildMailMessage(const std::string& name, const std::string& address,
                              const std::string& subject, const std::optional<std::string>& body,
                              const std::optional<std::string>& attachmentPath,
                              const std::optional<std::string>& attachmentName,
                              const MessageHeaders& headers) {
  BuiltMessage built;
  std::string attachment;
  std::string shownName;
  if (attachmentPath) {
    const std::string path = NativePath(*attachmentPath);
    built.result = ReadAttachment(path, attachment);
    if (built.result != kMailSuccess) return built;
    shownName =
        HeaderText(attachmentName && !attachmentName->empty() ? *attachmentName : BaseName(path));
  }

  EnsureGMimeReady();
  GRef<GMimeMessage> message(g_mime_message_new(TRUE));

  const std::string displayName = HeaderText(name);
  GRef<InternetAddress> recipient(internet_address_mailbox_new(
      displayName.empty() ? nullptr : displayName.c_str(), HeaderText(address).c_str()));
  internet_address_set_charset(recipient.get(), "utf-8");
  internet_address_list_add(g_mime_message_get_to(message.get()), recipient.get());

  if (IsPlainAddress(headers.senderAddress)) {
    const std::string senderName = HeaderText(headers.senderName);
    GRef<InternetAddress> sender(internet_address_mailbox_new(
        senderName.empty() ? nullptr : senderName.c_str(), headers.senderAddress.c_str()));
    internet_address_set_charset(sender.get(), "utf-8");
    internet_address_list_add(g_mime_message_get_from(message.get()), sender.get());
  }
  g_mime_object_set_header(GMIME_OBJECT(message.get()), "Auto-Submitted",
                           headers.reply ? "auto-replied" : "auto-generated", nullptr);

  g_mime_message_set_subject(message.get(), HeaderText(subject).c_str(), "utf-8");

  GDateTime* now = g_date_time_new_now_local();
  g_mime_message_set_date(message.get(), now);
  g_date_time_unref(now);

  if (headers.messageId.empty()) {
    std::unique_ptr<char, GFree> randomId(g_mime_utils_generate_message_id(g_get_host_name()));
    g_mime_message_set_message_id(message.get(), randomId.get());
  } else {
    g_mime_message_set_message_id(message.get(), headers.messageId.c_str());
  }

  GRef<GMimeTextPart> text = TextPart(body);
  if (attachmentPath) {
    GRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(text.get()));
    GRef<GMimePart> file = FilePart(attachment, shownName);
    g_mime_multipart_add(mixed.get(), GMIME_OBJECT(file.get()));
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
  } else {
    g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
  }

  GRef<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), nullptr, out.get());
  const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  built.bytes.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  return built;
}

}  // namespace ventari
