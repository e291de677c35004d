#pragma once
// The text side of the HTTP client: fields, request lines, URL split and answer lines. These are
// plain functions over bytes, apart from any socket, so tests and fuzzers can call them directly.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ventari {

// The request kinds; the value is the one a stored form uses.
enum CmdType : std::uint8_t {
  CmdGET = 0,
  CmdOPTIONS = 1,
  CmdHEAD = 2,
  CmdPOST = 3,
  CmdPUT = 4,
  CmdPATCH = 5,
  CmdCOPY = 6,
  CmdMOVE = 7,
  CmdDELETE = 8,
  CmdLINK = 9,
  CmdUNLINK = 10,
  CmdTRACE = 11,
  // The caller writes the whole request (request line, header lines, blank line, body) as the
  // data text; nothing is built for it.
  CmdRAW = 12,
};

// The method word that begins the request line, with its trailing blank; empty for CmdRAW.
const char* MethodWord(CmdType cmd);
// The kinds whose data text (or data file) follows the header.
bool SendsDataBlock(CmdType cmd);

// The first byte below 0x20, or 0x7F, of the text; none when it holds no control character.
std::optional<unsigned char> FirstControlCharacter(std::string_view text);

// Values for the optional request lines.
struct THeaderInfo {
  std::string LocalMailAddress;  // feeds "From"
  std::string LocalProgram;      // feeds "User-Agent"
  std::string Cookie;
  std::string Referer;
  std::string UserId;
  std::string Password;
};

// The n-th field (from 1) of the text split at `separator`; two adjacent separators enclose an
// empty field. Empty when the text has fewer fields.
std::string NthField(std::string_view text, char separator, int n);

// Lines of text, some of them "name: value" header lines.
class TExStringList {
 public:
  int Count() const { return static_cast<int>(m_lines.size()); }
  const std::string& operator[](int index) const { return m_lines.at(index); }
  const std::vector<std::string>& Lines() const { return m_lines; }
  void Clear() { m_lines.clear(); }
  void Add(std::string line) { m_lines.push_back(std::move(line)); }
  void Delete(int index);
  void Replace(int index, std::string line);
  // Every line followed by CR LF.
  std::string Text() const;

  // The first line whose name (the text before its first ":") equals `name` in any letter
  // case; lines without ":" are skipped. -1 when there is none.
  int IndexOfHeader(std::string_view name) const;
  // Non-empty value: replace the found line by "name: value", or append it. Empty value: delete
  // the found line.
  void SetHeader(std::string_view name, std::string_view value);

 private:
  std::vector<std::string> m_lines;
};

// The longest path and the longest Set-Cookie or Location value kept.
inline constexpr std::size_t kMaxUrlPart = 256;

// What splitting a URL gives: the URL (a "/" may have been appended), its path, and the host and
// port to reach.
struct SplitUrlResult {
  std::string requestUrl;
  std::string requestPath;
  std::string host;
  std::int32_t port = 0;
};

// Splits `url` given the host and port of the previous request (kept when the URL names none).
// Raises Exception "Empty URL" on an empty URL and EConvertError on a port that is no number or
// lies outside 0 to 65535.
SplitUrlResult SplitRequestUrl(std::string_view url, std::string_view host, std::int32_t port);

// What the request lines are built from.
struct RequestParts {
  CmdType cmd = CmdGET;
  std::string requestUrl;   // the target through a proxy
  std::string requestPath;  // the target without one
  std::string host;
  std::string proxy;
  THeaderInfo info;
  std::string targetUri;        // Copy, Move, Link, Unlink
  std::int64_t dataLength = 0;  // announced for the kinds that send a data block
};

// The request lines of one exchange, the final empty line included.
TExStringList BuildRequestLines(const RequestParts& parts);

// The value of an Authorization line for these credentials: "Basic " and the Base64 form of
// "user:password" on one line, however long.
std::string BasicAuthorization(std::string_view userId, std::string_view password);

// The status code of a status line: the decimal second blank-separated field, 0 when it is none
// or does not fit a signed 16-bit number.
std::int16_t ParseStatusCode(std::string_view statusLine);

// A line that holds nothing but its terminator ends the answer header.
bool IsHeaderEnd(std::string_view line);

// What one answer header line says. Names are recognised in any case, and only when a blank
// follows the colon.
struct HeaderLineInfo {
  enum Kind { Other, SetCookie, Location, ContentLength };
  Kind kind = Other;
  std::string value;        // Set-Cookie and Location: the value up to a CR, at most 256 bytes
  std::int32_t length = 0;  // Content-Length: the first run of digits, 0 when none
};
HeaderLineInfo ParseHeaderLine(std::string_view line);

// The line without its LF or CR LF.
std::string_view StripLineEnd(std::string_view line);

// The answer header as it is read line by line: the status line first, then the header lines
// up to the blank line.
class ResponseHeadParser {
 public:
  // Takes the next line, terminator included. Returns false once the blank line has been taken.
  bool Feed(std::string_view line);
  bool Complete() const { return m_complete; }

  std::int16_t ReplyNumber() const { return m_replyNumber; }
  const std::string& Cookie() const { return m_cookie; }
  // The last Location value, when the answer had one.
  const std::optional<std::string>& Location() const { return m_location; }
  std::int32_t ContentLength() const { return m_contentLength; }

 private:
  bool m_statusSeen = false;
  bool m_complete = false;
  std::int16_t m_replyNumber = 0;
  std::string m_cookie;
  std::optional<std::string> m_location;
  std::int32_t m_contentLength = 0;
};

}  // namespace ventari
