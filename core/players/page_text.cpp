#include "core/players/page_text.h"

#include <cstdio>
#include <string_view>

#include "platform/utf8.h"

namespace ventari {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Calls `ascii` for each ASCII byte and `other` for each whole non-ASCII sequence; a broken
// sequence becomes U+FFFD, so that both files stay valid UTF-8 whatever the settings held.
template <typename Ascii, typename Other>
void ForEachCharacter(const std::string& text, Ascii ascii, Other other) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      other(std::string_view(kReplacement));
      ++at;
    } else if (length == 1) {
      ascii(text[at]);
      ++at;
    } else {
      other(std::string_view(text).substr(at, length));
      at += length;
    }
  }
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  ForEachCharacter(
      text,
      [&](char c) {
        switch (c) {
          case '"':
            out += "\\\"";
            return;
          case '\\':
            out += "\\\\";
            return;
          case '\b':
            out += "\\b";
            return;
          case '\f':
            out += "\\f";
            return;
          case '\n':
            out += "\\n";
            return;
          case '\r':
            out += "\\r";
            return;
          case '\t':
            out += "\\t";
            return;
          default:
            break;
        }
        // The markup characters too, so that the text can sit inside a page's script.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(c));
          out += buffer;
        } else {
          out += c;
        }
      },
      [&](std::string_view sequence) {
        // Line and paragraph separators end a line in older JavaScript.
        if (sequence == "\xE2\x80\xA8")
          out += "\\u2028";
        else if (sequence == "\xE2\x80\xA9")
          out += "\\u2029";
        else
          out += sequence;
      });
  return out + "\"";
}

std::string JsonStringOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

std::string HtmlText(const std::string& text) {
  std::string out;
  ForEachCharacter(
      text,
      [&](char c) {
        switch (c) {
          case '&':
            out += "&amp;";
            return;
          case '<':
            out += "&lt;";
            return;
          case '>':
            out += "&gt;";
            return;
          case '"':
            out += "&quot;";
            return;
          case '\'':
            out += "&#39;";
            return;
          default:
            break;
        }
        // Control characters are not allowed in an HTML page's text.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
          out += kReplacement;
        else
          out += c;
      },
      [&](std::string_view sequence) { out += sequence; });
  return out;
}

}  // namespace ventari
