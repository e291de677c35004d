#include "net/http_text.h"

#include <algorithm>
#include <limits>

#include "net/nmuu.h"
#include "platform/convert.h"
#include "platform/errors.h"

namespace ventari {

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

std::string Cut(std::string_view text, std::size_t max) {
  return std::string(text.substr(0, std::min(text.size(), max)));
}

// A kept value ends at its first CR: a stray CR (a script that wrote "\r\r\n", or one inside
// the value) would otherwise go out again inside the next request's lines.
std::string HeaderValue(std::string_view rest, std::size_t from) {
  rest.remove_prefix(std::min(from, rest.size()));
  return Cut(rest.substr(0, rest.find('\r')), kMaxUrlPart);
}

// Position of the n-th (from 1) occurrence of `c`, npos when there are fewer.
std::size_t NthPos(std::string_view text, char c, int n) {
  std::size_t pos = std::string_view::npos;
  for (int i = 0; i < n; ++i) {
    pos = text.find(c, pos == std::string_view::npos ? 0 : pos + 1);
    if (pos == std::string_view::npos) break;
  }
  return pos;
}

}  // namespace

const char* MethodWord(CmdType cmd) {
  switch (cmd) {
    case CmdGET:
      return "GET ";
    case CmdOPTIONS:
      return "OPTIONS ";
    case CmdHEAD:
      return "HEAD ";
    case CmdPOST:
      return "POST ";
    case CmdPUT:
      return "PUT ";
    case CmdPATCH:
      return "PATCH ";
    case CmdCOPY:
      return "COPY ";
    case CmdMOVE:
      return "MOVE ";
    case CmdDELETE:
      return "DELETE ";
    case CmdLINK:
      return "LINK ";
    case CmdUNLINK:
      return "UNLINK ";
    case CmdTRACE:
      return "TRACE ";
    case CmdRAW:
      return "";
  }
  return "";
}

bool SendsDataBlock(CmdType cmd) {
  // Link and Unlink announce the length of their data text ("Send.dat"); it is sent too, so
  // that no server waits for bytes that never come.
  return cmd == CmdPOST || cmd == CmdPUT || cmd == CmdPATCH || cmd == CmdTRACE || cmd == CmdRAW ||
         cmd == CmdLINK || cmd == CmdUNLINK;
}

std::optional<unsigned char> FirstControlCharacter(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return byte;
  }
  return std::nullopt;
}

std::string NthField(std::string_view text, char separator, int n) {
  if (n < 1 || text.empty()) return {};
  std::size_t start = 0;
  for (int field = 1; field < n; ++field) {
    const std::size_t next = text.find(separator, start);
    if (next == std::string_view::npos) return {};
    start = next + 1;
  }
  const std::size_t end = text.find(separator, start);
  return std::string(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
}

void TExStringList::Delete(int index) {
  (void)m_lines.at(index);  // range check
  m_lines.erase(m_lines.begin() + index);
}

void TExStringList::Replace(int index, std::string line) { m_lines.at(index) = std::move(line); }

std::string TExStringList::Text() const {
  std::string text;
  for (const auto& line : m_lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

int TExStringList::IndexOfHeader(std::string_view name) const {
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    const std::string_view line = m_lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (SameTextIgnoringCase(line.substr(0, colon), name)) return static_cast<int>(i);
  }
  return -1;
}

void TExStringList::SetHeader(std::string_view name, std::string_view value) {
  const int index = IndexOfHeader(name);
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  std::string line = std::string(name) + ": " + std::string(value);
  if (index >= 0)
    Replace(index, std::move(line));
  else
    Add(std::move(line));
}

SplitUrlResult SplitRequestUrl(std::string_view url, std::string_view host, std::int32_t port) {
  if (url.empty()) throw Exception("Empty URL");
  SplitUrlResult result;
  result.requestUrl = std::string(url);
  result.host = std::string(host);
  result.port = port == 0 ? 80 : port;

  const bool hasDoubleSlash = url.find("//") != std::string_view::npos;
  if (hasDoubleSlash) {
    const std::size_t third = NthPos(url, '/', 3);
    if (third != std::string_view::npos) result.requestPath = Cut(url.substr(third), kMaxUrlPart);
  } else if (const std::size_t first = url.find('/'); first != std::string_view::npos) {
    result.requestPath = Cut(url.substr(first), kMaxUrlPart);
  }

  // The text before the first ":" is a scheme (or a host name) only when it holds no "/": a
  // ":" in the path or query of "/page?t=12:00" says nothing about the port.
  if (const std::size_t colon = url.find(':');
      colon != std::string_view::npos && url.substr(0, colon).find('/') == std::string_view::npos) {
    std::string scheme = NthField(url, ':', 1);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), Lower);
    result.port = scheme == "gopher" ? 70 : scheme == "ftp" ? 21 : 80;
  }

  std::string hostPart;
  if (hasDoubleSlash)
    hostPart = NthField(url, '/', 3);
  else if (url.front() != '/')
    hostPart = NthField(url, '/', 1);
  if (const std::size_t colon = hostPart.find(':'); colon != std::string::npos) {
    const std::string written = NthField(hostPart, ':', 2);
    // Decimal digits only: the integer syntax of the settings would also take "$50" or "0x50"
    // for a hexadecimal number, which no URL means.
    if (written.empty() ||
        !std::all_of(written.begin(), written.end(), [](char c) { return c >= '0' && c <= '9'; }))
      throw EConvertError("'" + written + "' is not a valid integer value");
    result.port = StrToInt(written);
    // The socket keeps only the low 16 bits of a port: 70000 would quietly reach port 4464.
    if (result.port < 0 || result.port > 65535)
      throw EConvertError("'" + written + "' is not a valid port number");
    hostPart.resize(colon);
  }
  if (!hostPart.empty()) result.host = hostPart;

  if (result.requestPath.empty()) {
    result.requestPath = "/";
    result.requestUrl += "/";
  }
  return result;
}

TExStringList BuildRequestLines(const RequestParts& parts) {
  TExStringList lines;
  const bool viaProxy = !parts.proxy.empty();
  if (parts.cmd != CmdRAW) {
    lines.Add(std::string(MethodWord(parts.cmd)) +
              (viaProxy ? parts.requestUrl : parts.requestPath) + " HTTP/1.0");
    if (viaProxy) {
      lines.Add("Proxy-Connection: Keep-Alive");
      lines.Add("Host: " + parts.host);
    }
    lines.SetHeader("Host", parts.host);
    lines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    lines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    lines.SetHeader("User-Agent", parts.info.LocalProgram);
    lines.SetHeader("From", parts.info.LocalMailAddress);
    lines.SetHeader("Cookie", parts.info.Cookie);
    lines.SetHeader("Referer", parts.info.Referer);
    if (!parts.info.UserId.empty() && !parts.info.Password.empty())
      lines.SetHeader("Authorization", BasicAuthorization(parts.info.UserId, parts.info.Password));
    lines.Add("Content-type: application/x-www-form-urlencoded");
    if (parts.cmd == CmdCOPY || parts.cmd == CmdMOVE) lines.Add("URI-header: " + parts.targetUri);
    if (parts.cmd == CmdLINK || parts.cmd == CmdUNLINK) lines.Add("Link: " + parts.targetUri);
    if (SendsDataBlock(parts.cmd)) lines.Add("Content-Length: " + std::to_string(parts.dataLength));
    lines.Add(std::string());
  }
  return lines;
}

std::string BasicAuthorization(std::string_view userId, std::string_view password) {
  TNMUUProcessor encoder;
  encoder.Method = uuMime;
  std::string encoded = encoder.Encode(std::string(userId) + ":" + std::string(password));
  // The encoder writes 45-byte runs as separate lines; one header line needs them joined.
  std::erase_if(encoded, [](char c) { return c == '\r' || c == '\n'; });
  return "Basic " + encoded;
}

std::int16_t ParseStatusCode(std::string_view statusLine) {
  const std::string field = NthField(StripLineEnd(statusLine), ' ', 2);
  if (field.empty()) return 0;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    // Checked at every digit: leading zeros are no reason to refuse "000200".
    if (value > std::numeric_limits<std::int16_t>::max()) return 0;
  }
  return static_cast<std::int16_t>(value);
}

bool IsHeaderEnd(std::string_view line) { return line == "\r\n" || line == "\n"; }

std::string_view StripLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

HeaderLineInfo ParseHeaderLine(std::string_view line) {
  HeaderLineInfo info;
  std::string name = NthField(line, ' ', 1);
  std::transform(name.begin(), name.end(), name.begin(), Upper);
  const std::string_view rest = StripLineEnd(line);
  if (name == "SET-COOKIE:") {
    info.kind = HeaderLineInfo::SetCookie;
    info.value = HeaderValue(rest, 12);
  } else if (name == "LOCATION:") {
    info.kind = HeaderLineInfo::Location;
    info.value = HeaderValue(rest, 10);
  } else if (name == "CONTENT-LENGTH:") {
    info.kind = HeaderLineInfo::ContentLength;
    std::size_t i = 15;
    while (i < line.size() && (line[i] < '0' || line[i] > '9')) ++i;
    std::int64_t value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
      value = std::min<std::int64_t>(value * 10 + (line[i] - '0'),
                                     std::numeric_limits<std::int32_t>::max());
    info.length = static_cast<std::int32_t>(value);
  }
  return info;
}

bool ResponseHeadParser::Feed(std::string_view line) {
  if (m_complete) return false;
  if (!m_statusSeen) {
    m_statusSeen = true;
    m_replyNumber = ParseStatusCode(line);
    return true;
  }
  const HeaderLineInfo info = ParseHeaderLine(line);
  switch (info.kind) {
    case HeaderLineInfo::SetCookie:
      m_cookie = info.value;
      break;
    case HeaderLineInfo::Location:
      m_location = info.value;
      break;
    case HeaderLineInfo::ContentLength:
      m_contentLength = info.length;
      break;
    case HeaderLineInfo::Other:
      break;
  }
  if (IsHeaderEnd(line)) m_complete = true;
  return !m_complete;
}

}  // namespace ventari
