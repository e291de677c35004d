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

}  // namespace

TNMHTTP::TNMHTTP() : m_watch(std::make_unique<QTimer>()) {
  m_watch->setSingleShot(false);
  QObject::connect(m_watch.get(), &QTimer::timeout, m_watch.get(), [this] { WatchTick(); });
}

TNMHTTP::~TNMHTTP() { m_watch->stop(); }

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
  Run(CmdLINK, url);
}

void TNMHTTP::Unlink(const std::string& url, const std::string& target) {
  TargetUri = target;
  Run(CmdUNLINK, url);
}

void TNMHTTP::Raw(const std::string& url, const std::string& request) {
  SendData = request;
  Run(CmdRAW, url);
}

void TNMHTTP::RunRequest() {
  for (int exchange = 1;; ++exchange) {
    if (exchange > kMaxExchanges)
      throw ESockError("Too many redirects: request abandoned after " +
                       std::to_string(kMaxExchanges) + " exchanges");
    std::int16_t status = 0;
    Exchange(status);

    if (status >= 300 && status <= 398) {
      if (!ReceivedCookie.empty()) HeaderInfo.Cookie = ReceivedCookie;
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
  Connect();
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
    SendBytes(SendHeader.Text());
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
  while (more) {
    std::string line;
    Watched("The answer", [&] { line = ReadLn(); });
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
  if (InputFileMode)
    Watched("The answer", [this] { CaptureFile(Body); });
  else
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
