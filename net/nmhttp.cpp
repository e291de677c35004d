#include "net/nmhttp.h"

#include <QTimer>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include "net/nmurl.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

namespace {

// The answer watch looks for moving bytes this often (at most), so a silent peer is noticed
// within a small fraction of TimeOut.
constexpr int kWatchStepMs = 50;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr CreateFileForWriting(const std::string& name) {
  FilePtr file(std::fopen(NativePath(name).c_str(), "wb"));
  if (!file) RaiseLastIoError();
  return file;
}

void WriteToFile(std::FILE* file, std::string_view bytes) {
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
    RaiseLastIoError();
}

// "60 s" or "250 ms".
std::string Duration(std::int32_t ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

bool SameHost(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Sets the socket's bounds for one exchange and puts the unbounded defaults back after it.
class ReceiveBounds {
 public:
  ReceiveBounds(TPowersock& sock, std::size_t line, std::size_t capture) : m_sock(sock) {
    m_sock.MaxLineLength = line;
    m_sock.MaxCaptureLength = capture;
  }
  ~ReceiveBounds() {
    m_sock.MaxLineLength = 0;
    m_sock.MaxCaptureLength = 0;
  }
  ReceiveBounds(const ReceiveBounds&) = delete;
  ReceiveBounds& operator=(const ReceiveBounds&) = delete;

 private:
  TPowersock& m_sock;
};

}  // namespace

TNMHTTP::TNMHTTP() : m_total(std::make_unique<QTimer>()), m_watch(std::make_unique<QTimer>()) {
  m_total->setSingleShot(true);
  QObject::connect(m_total.get(), &QTimer::timeout, m_total.get(), [this] { TotalTimeUp(); });
  m_watch->setSingleShot(false);
  QObject::connect(m_watch.get(), &QTimer::timeout, m_watch.get(), [this] { WatchTick(); });
}

TNMHTTP::~TNMHTTP() {
  m_total->stop();
  m_watch->stop();
}

void TNMHTTP::Abort() {
  LookupDone = true;
  Cancel();
}

void TNMHTTP::Run(CmdType cmd, const std::string& url) {
  CurrentCmd = cmd;
  RequestUrl = url;
  RunRequest();
}

void TNMHTTP::Options(const std::string& url) { Run(CmdOPTIONS, url); }
void TNMHTTP::Get(const std::string& url) { Run(CmdGET, url); }
void TNMHTTP::Head(const std::string& url) { Run(CmdHEAD, url); }
void TNMHTTP::Delete(const std::string& url) { Run(CmdDELETE, url); }

void TNMHTTP::Post(const std::string& url, const std::string& data) {
  if (OutputFileMode) {
    SendData = data;
  } else {
    TNMURL decoder;
    decoder.InputString = data;
    SendData = decoder.Decode();
  }
  Run(CmdPOST, url);
}

void TNMHTTP::Put(const std::string& url, const std::string& data) {
  SendData = data;
  Run(CmdPUT, url);
}

void TNMHTTP::Patch(const std::string& url, const std::string& data) {
  SendData = data;
  Run(CmdPATCH, url);
}

void TNMHTTP::Trace(const std::string& url, const std::string& data) {
  SendData = data;
  Run(CmdTRACE, url);
}

void TNMHTTP::Copy(const std::string& url, const std::string& target) {
  TargetUri = target;
  Run(CmdCOPY, url);
}

void TNMHTTP::Move(const std::string& url, const std::string& target) {
  TargetUri = target;
  Run(CmdMOVE, url);
}

void TNMHTTP::Link(const std::string& url, const std::string& target) {
  TargetUri = target;
  SendData = "Send.dat";
  Run(CmdLINK, url);
}

void TNMHTTP::Unlink(const std::string& url, const std::string& target) {
  TargetUri = target;
  SendData = "Send.dat";
  Run(CmdUNLINK, url);
}

void TNMHTTP::Raw(const std::string& url, const std::string& request) {
  SendData = request;
  Run(CmdRAW, url);
}

void TNMHTTP::RunRequest() {
  m_totalExpired = false;
  if (TotalTimeOut > 0) m_total->start(TotalTimeOut);
  try {
    RunExchanges();
  } catch (const ESockError&) {
    m_total->stop();
    // Whichever wait the expiry ended, the cause is the slowness of the whole.
    if (m_totalExpired)
      throw ESockError("The server took too long: no complete answer within " +
                       Duration(TotalTimeOut));
    throw;
  } catch (...) {
    m_total->stop();
    throw;
  }
  m_total->stop();
  // An expiry in the last pump step of a finished operation must not cancel the next one.
  if (m_totalExpired) Canceled = false;
}

void TNMHTTP::TotalTimeUp() {
  m_totalExpired = true;
  // The flags end every wait even when a status handler raises inside the cancel.
  try {
    Abort();
  } catch (...) {
  }
  LookupDone = true;
  Canceled = true;
}

bool TNMHTTP::CookieGoesTo(const std::string& host) const {
  // A cookie the user put in HeaderInfo goes everywhere, as before.
  if (HeaderInfo.Cookie != m_redirectCookie) return true;
  return SameHost(host, m_redirectCookieHost);
}

void TNMHTTP::RunExchanges() {
  for (int exchange = 1;; ++exchange) {
    if (exchange > kMaxExchanges)
      throw ESockError("Too many redirects: request abandoned after " +
                       std::to_string(kMaxExchanges) + " exchanges");
    std::int16_t status = 0;
    Exchange(status);

    if (status >= 300 && status <= 398) {
      if (!ReceivedCookie.empty()) {
        HeaderInfo.Cookie = ReceivedCookie;
        m_redirectCookie = ReceivedCookie;
        m_redirectCookieHost = Host;
      }
      if (OnRedirect) {
        bool handled = false;
        OnRedirect(handled);
        if (handled) return;
      }
      if (RequestUrl.find('/') == std::string::npos) {
        // A bare name is taken from the root of the server that answered, on its port.
        const std::string authority = Port == 80 ? Host : Host + ":" + std::to_string(Port);
        RequestUrl = "http://" + authority + "/" + RequestUrl;
      }
    }
    if (status == 401 && OnAuthenticationNeeded) OnAuthenticationNeeded(*this);
    if (status < 299 || status > 399) return;
  }
}

void TNMHTTP::Exchange(std::int16_t& status) {
  SplitUrl();
  BuildRequest();
  if (OnAboutToSend) OnAboutToSend(*this);
  // A CR or LF taken from a URL or a Location value would let the server read a request of
  // someone else's making.
  for (const std::string& line : SendHeader.Lines()) {
    if (const auto bad = FirstControlCharacter(line)) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(*bad));
      throw ESockError(std::string("Control character ") + code +
                       " in the request: request not sent");
    }
  }
  Connect();
  const ReceiveBounds bounds(*this, MaxHeaderLine, MaxBody);
  try {
    const CmdType sent = CurrentCmd;
    SendRequest();
    ReadResponseHeader();
    ReadBody();
    status = ReplyNumber;
    if (status <= 298) {
      if (OnSuccess) OnSuccess(sent);
      StatusMessage(2, "Transaction Completed");
    } else if (status >= 400) {
      if (OnFailure) OnFailure(sent);
    }
  } catch (...) {
    // The error that ended the exchange is the one to report, not a failing close after it.
    try {
      Disconnect();
    } catch (const ESockError&) {
    }
    throw;
  }
  Disconnect();
}

void TNMHTTP::SplitUrl() {
  SplitUrlResult split = SplitRequestUrl(RequestUrl, Host, Port);
  RequestUrl = std::move(split.requestUrl);
  RequestPath = std::move(split.requestPath);
  Host = std::move(split.host);
  Port = split.port;
}

std::int64_t TNMHTTP::DataLength() const {
  if (!OutputFileMode) return static_cast<std::int64_t>(SendData.size());
  struct stat info {};
  if (::stat(NativePath(SendData).c_str(), &info) != 0) RaiseLastIoError();
  return static_cast<std::int64_t>(info.st_size);
}

void TNMHTTP::BuildRequest() {
  RequestParts parts;
  parts.cmd = CurrentCmd;
  parts.requestUrl = RequestUrl;
  parts.requestPath = RequestPath;
  parts.host = Host;
  parts.proxy = Proxy;
  parts.info = HeaderInfo;
  if (!CookieGoesTo(Host)) parts.info.Cookie.clear();
  parts.targetUri = TargetUri;
  if (SendsDataBlock(CurrentCmd) && CurrentCmd != CmdRAW) parts.dataLength = DataLength();
  SendHeader = BuildRequestLines(parts);
}

void TNMHTTP::SendBytes(const std::string& bytes) {
  // SendBuffer takes at most 65535 bytes at a time; a length of 0 would mean "up to a zero
  // byte", so every piece is given its length.
  constexpr std::size_t kPiece = 32768;
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, bytes.size() - at);
    SendBuffer(bytes.data() + at, static_cast<std::uint16_t>(n));
  }
}

void TNMHTTP::SendRequest() {
  Watched("Sending the request", [this] {
    // The head goes out through Write like any text, in pieces that fit its buffer rather
    // than cut at its end.
    const std::string head = SendHeader.Text();
    constexpr std::size_t kWriteRoom = 16384;
    for (std::size_t at = 0; at < head.size(); at += kWriteRoom) Write(head.substr(at, kWriteRoom));
    if (SendsDataBlock(CurrentCmd)) {
      if (OutputFileMode && CurrentCmd != CmdRAW)
        SendFile(SendData);
      else
        SendBytes(SendData);
    }
  });
  CurrentCmd = CmdGET;
}

void TNMHTTP::ReadResponseHeader() {
  BytesTotal = 0;
  ReceivedCookie.clear();
  FilePtr headerFile;
  if (OutputFileMode)
    headerFile = CreateFileForWriting(Header);
  else
    Header.clear();

  ResponseHeadParser parser;
  bool more = true;
  for (int lines = 0; more; ++lines) {
    std::string line;
    try {
      // The status line, the header lines and the blank line.
      if (lines > MaxHeaderLines + 1)
        throw EBoundError("Answer header of more than " + std::to_string(MaxHeaderLines) +
                          " lines");
      Watched("The answer", [&] { line = ReadLn(); });
    } catch (const EBoundError&) {
      // A header cut off by a bound is no header: nothing of it is kept.
      if (!headerFile) Header.clear();
      ReceivedCookie.clear();
      throw;
    }
    more = parser.Feed(line);
    ReplyNumber = parser.ReplyNumber();
    ReceivedCookie = parser.Cookie();
    if (parser.Location()) RequestUrl = *parser.Location();
    BytesTotal = parser.ContentLength();
    if (headerFile)
      WriteToFile(headerFile.get(), line);
    else
      Header += line;
  }
}

void TNMHTTP::ReadBody() {
  if (InputFileMode) {
    Watched("The answer", [this] { CaptureFile(Body); });
    return;
  }
  // A body over its bound comes back empty, with the error.
  Watched("The answer", [this] { CaptureString(Body, -1); });
}

std::int64_t TNMHTTP::Progress() const {
  return static_cast<std::int64_t>(ReceivedPending()) + BytesRecvd + BytesSent;
}

template <class Operation>
void TNMHTTP::Watched(const char* what, Operation&& operation) {
  if (TimeOut <= 0) {
    operation();
    return;
  }
  m_watchFired = false;
  m_watchProgress = Progress();
  m_watchQuietSince = std::chrono::steady_clock::now();
  m_watch->start(std::min(kWatchStepMs, TimeOut));
  try {
    operation();
  } catch (const EAbortError&) {
    m_watch->stop();
    if (m_watchFired)
      throw ESockError(std::string(what) + " timed out (no data for " + std::to_string(TimeOut) +
                       " ms)");
    throw;
  } catch (...) {
    m_watch->stop();
    throw;
  }
  m_watch->stop();
  // A watch that fired as the operation finished must not cancel the next one.
  if (m_watchFired) Canceled = false;
}

void TNMHTTP::WatchTick() {
  const std::int64_t now = Progress();
  if (now != m_watchProgress) {
    m_watchProgress = now;
    m_watchQuietSince = std::chrono::steady_clock::now();
    return;
  }
  const auto quiet = std::chrono::steady_clock::now() - m_watchQuietSince;
  if (quiet >= std::chrono::milliseconds(TimeOut) && !m_watchFired) {
    m_watchFired = true;
    m_watch->stop();
    Cancel();
  }
}

}  // namespace ventari
