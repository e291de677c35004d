#include "mail/mail_headers.h"

#include <algorithm>
#include <cctype>

#include "mail/mail_message.h"
#include "platform/text.h"

namespace ventari {

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The text outside quoted strings and comments: each quoted string becomes one '"' (no address
// may hold one), each comment a blank. False when a quote or a comment does not end.
bool OutsideQuotesAndComments(std::string_view text, std::string& outside, bool keepQuoted) {
  outside.clear();
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((quoted || depth > 0) && c == '\\') {
      if (quoted && keepQuoted && i + 1 < text.size()) outside += text[i + 1];
      ++i;
      continue;
    }
    if (quoted) {
      if (c == '"') {
        quoted = false;
        outside += '"';
      } else if (keepQuoted) {
        outside += c;
      }
    } else if (depth > 0) {
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) outside += ' ';
    } else if (c == '"') {
      quoted = true;
      if (keepQuoted) outside += '"';
    } else if (c == '(') {
      depth = 1;
    } else {
      outside += c;
    }
  }
  return !quoted && depth == 0;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    pieces.push_back(Trimmed(text.substr(start, end - start), " \t\r\n"));
    if (end == std::string_view::npos) return pieces;
    start = end + 1;
  }
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t\r\n", at)) != std::string_view::npos) {
    const std::size_t end = text.find_first_of(" \t\r\n", at);
    words.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string Unquoted(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
    return text.substr(1, text.size() - 2);
  return text;
}

std::string DomainOf(std::string_view address) {
  const std::size_t at = address.rfind('@');
  return LowerAscii(at == std::string_view::npos ? address : address.substr(at + 1));
}

// One "method=result property=value ..." statement of an Authentication-Results field.
bool StatementPasses(const std::string& statement, const std::string& domain) {
  const std::vector<std::string> words = Words(LowerAscii(statement));
  if (words.empty()) return false;
  const std::size_t equals = words[0].find('=');
  if (equals == std::string::npos || words[0].substr(equals + 1) != "pass") return false;
  const std::string method = words[0].substr(0, std::min(equals, words[0].find('/')));
  std::string headerFrom, headerD, headerI, mailFrom;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::size_t eq = words[i].find('=');
    if (eq == std::string::npos) continue;
    const std::string name = words[i].substr(0, eq);
    const std::string value = Unquoted(words[i].substr(eq + 1));
    if (name == "header.from") headerFrom = value;
    if (name == "header.d") headerD = value;
    if (name == "header.i") headerI = value;
    if (name == "smtp.mailfrom") mailFrom = value;
  }
  if (method == "dmarc") return headerFrom.empty() || DomainOf(headerFrom) == domain;
  if (method == "dkim")
    return headerD == domain || (!headerI.empty() && headerI.find('@') != std::string::npos &&
                                 DomainOf(headerI) == domain);
  if (method == "spf") return !mailFrom.empty() && DomainOf(mailFrom) == domain;
  return false;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> RawHeaderFields(std::string_view bytes) {
  Fields fields;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') {
      if (!fields.empty()) fields.back().second += std::string(line);
      continue;
    }
    const std::size_t colon = line.find(':');
    // Not a field: no mail program writes one; it names nothing.
    if (colon == std::string_view::npos) continue;
    const std::string name = LowerAscii(Trimmed(line.substr(0, colon)));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    fields.emplace_back(name, std::string(value));
  }
  return fields;
}

PlainSender SenderOfFields(const Fields& fields) {
  const std::string* from = nullptr;
  for (const auto& [name, value] : fields) {
    if (name != "from") continue;
    if (from != nullptr) return {{}, "more than one From field"};
    from = &value;
  }
  if (from == nullptr) return {{}, "no From field"};
  for (const char c : *from) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return {{}, "a control byte in From"};
  }
  std::string outside;
  if (!OutsideQuotesAndComments(*from, outside, /*keepQuoted=*/false))
    return {{}, "an unended quote or comment in From"};
  if (outside.find_first_of(",;:") != std::string::npos)
    return {{}, "a list, a group or a route in From"};
  const std::size_t open = outside.find('<');
  const std::size_t close = outside.find('>');
  std::string address;
  if (open == std::string::npos && close == std::string::npos) {
    address = Trimmed(outside);
  } else {
    if (open == std::string::npos || close == std::string::npos || close < open ||
        outside.find('<', open + 1) != std::string::npos ||
        outside.find('>', close + 1) != std::string::npos ||
        !Trimmed(std::string_view(outside).substr(close + 1), " \t\r\n").empty())
      return {{}, "brackets that do not hold one address in From"};
    address = outside.substr(open + 1, close - open - 1);
  }
  if (!IsPlainAddress(address)) return {{}, "no plain address in From"};
  return {LowerAscii(address), {}};
}

std::string AutomaticReason(const Fields& fields) {
  for (const auto& [name, value] : fields) {
    std::string plain;
    OutsideQuotesAndComments(value, plain, /*keepQuoted=*/true);
    const std::string word = LowerAscii(Trimmed(Split(plain, ';').front()));
    if (name == "auto-submitted" && word != "no") return "Auto-Submitted: " + word;
    if (name == "precedence" && (word == "bulk" || word == "list" || word == "junk"))
      return "Precedence: " + word;
    if (name == "list-id") return "a List-Id";
    if (name == "return-path" && Words(plain) == std::vector<std::string>{"<>"})
      return "an empty return path";
  }
  return {};
}

bool AuthenticationPasses(const Fields& fields, std::string_view authservId,
                          std::string_view domain) {
  const std::string server = LowerAscii(authservId);
  const std::string wanted = LowerAscii(domain);
  for (const auto& [name, value] : fields) {
    if (name != "authentication-results") continue;
    std::string plain;
    if (!OutsideQuotesAndComments(value, plain, /*keepQuoted=*/true)) continue;
    const std::vector<std::string> statements = Split(plain, ';');
    const std::vector<std::string> id = Words(statements.front());
    if (id.empty() || LowerAscii(id.front()) != server) continue;
    // The topmost field of that server is the one it wrote; any below came with the message.
    return std::any_of(statements.begin() + 1, statements.end(),
                       [&](const std::string& s) { return StatementPasses(s, wanted); });
  }
  return false;
}

}  // namespace ventari
