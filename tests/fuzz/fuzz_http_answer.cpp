// An answer header as any server may send it, cut into lines the way ReadLn hands them over
// (each with its LF). The head parser's status code, cookie, location and length are compared
// with a reading done here from the rules; then the redirect is followed as the client does it:
// the URL is split and the next request built, whose lines must stay lines.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/http_text.h"
#include "platform/errors.h"

namespace {

using ventari::ResponseHeadParser;

struct Expected {
  std::int16_t status = 0;
  std::string cookie;
  std::optional<std::string> location;
  std::int32_t length = 0;
  bool complete = false;
};

std::string_view WithoutTerminator(std::string_view line) {
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

// The second blank-separated field, when it is a decimal number of the signed 16-bit range.
std::int16_t ExpectedStatus(std::string_view line) {
  line = WithoutTerminator(line);
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return 0;
  std::string_view field = line.substr(blank + 1);
  field = field.substr(0, field.find(' '));
  if (field.empty()) return 0;
  long value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > 32767) return 0;
  }
  return static_cast<std::int16_t>(value);
}

// The text before the first blank, in capitals.
std::string Name(std::string_view line) {
  std::string name(line.substr(0, line.find(' ')));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

// From a character on, up to the first CR left after the terminator, at most 256 bytes.
std::string ValueFrom(std::string_view line, std::size_t at) {
  line = WithoutTerminator(line);
  line.remove_prefix(std::min(at, line.size()));  // "LOCATION:" alone as the last, cut line
  return std::string(line.substr(0, line.find('\r')).substr(0, 256));
}

Expected Expect(const std::vector<std::string_view>& lines) {
  Expected e;
  if (lines.empty()) return e;
  e.status = ExpectedStatus(lines[0]);
  for (std::size_t i = 1; i < lines.size() && !e.complete; ++i) {
    const std::string_view line = lines[i];
    const std::string name = Name(line);
    if (name == "SET-COOKIE:") {
      e.cookie = ValueFrom(line, 12);
    } else if (name == "LOCATION:") {
      e.location = ValueFrom(line, 10);
    } else if (name == "CONTENT-LENGTH:") {
      const auto digit = [](char c) { return c >= '0' && c <= '9'; };
      auto at = std::find_if(line.begin() + 15, line.end(), digit);
      std::int64_t value = 0;
      for (; at != line.end() && digit(*at); ++at)
        value = std::min<std::int64_t>(value * 10 + (*at - '0'), INT32_MAX);
      e.length = static_cast<std::int32_t>(value);
    }
    e.complete = line == "\r\n" || line == "\n";
  }
  return e;
}

// What the client does next with a redirect: a GET of the Location, from the server that
// answered when it names none, carrying the cookie the answer set.
void FollowRedirect(const std::string& location, const std::string& cookie) {
  std::string url = location;
  if (url.find('/') == std::string::npos) url = "http://localhost/" + url;
  ventari::SplitUrlResult split;
  try {
    split = ventari::SplitRequestUrl(url, "localhost", 80);
  } catch (const ventari::EConvertError&) {
    return;  // a port that is no number
  }
  if (split.requestUrl != url && split.requestUrl != url + "/") __builtin_trap();
  if (split.requestPath.empty() || split.requestPath[0] != '/' ||
      split.requestPath.size() > ventari::kMaxUrlPart)
    __builtin_trap();
  if (split.host.empty() || split.host.find_first_of("/:") != std::string::npos) __builtin_trap();
  if (split.port < 0 || split.port > 65535) __builtin_trap();

  ventari::RequestParts parts;
  parts.requestUrl = split.requestUrl;
  parts.requestPath = split.requestPath;
  parts.host = split.host;
  parts.info.Cookie = cookie;
  const ventari::TExStringList lines = ventari::BuildRequestLines(parts);
  for (const std::string& line : lines.Lines())
    if (line.find_first_of("\r\n") != std::string::npos) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view answer(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < answer.size();) {
    const std::size_t lf = answer.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? answer.size() : lf + 1;
    lines.push_back(answer.substr(start, end - start));
    start = end;
  }
  const Expected expected = Expect(lines);

  ResponseHeadParser parser;
  std::size_t fed = 0;
  while (fed < lines.size() && parser.Feed(lines[fed])) ++fed;
  if (fed < lines.size()) {
    ++fed;  // the blank line
    // Once complete, the parser takes nothing more.
    const ResponseHeadParser done = parser;
    if (fed < lines.size() && parser.Feed(lines[fed])) __builtin_trap();
    if (parser.Cookie() != done.Cookie() || parser.Location() != done.Location() ||
        parser.ContentLength() != done.ContentLength() || !parser.Complete())
      __builtin_trap();
  }
  if (parser.Complete() != expected.complete || parser.ReplyNumber() != expected.status ||
      parser.Cookie() != expected.cookie || parser.Location() != expected.location ||
      parser.ContentLength() != expected.length)
    __builtin_trap();

  // Each piece alone, as the head parser uses them.
  if (!lines.empty()) {
    if (ventari::ParseStatusCode(lines[0]) != expected.status) __builtin_trap();
    if (ventari::IsHeaderEnd(lines.back()) != (lines.back() == "\r\n" || lines.back() == "\n"))
      __builtin_trap();
  }

  if (parser.Location()) FollowRedirect(*parser.Location(), parser.Cookie());
  return 0;
}
