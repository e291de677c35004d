#pragma once
// TNMHTTP: an HTTP/1.0 client on the socket connection. One operation runs exchanges (connect,
// send the request, read the answer header and the body up to the peer's close, disconnect)
// until an answer that is no redirect arrives; the answer is left in Header and Body.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/http_text.h"
#include "net/powersock.h"

class QTimer;

namespace ventari {

class TNMHTTP : public TPowersock {
 public:
  using TResultEvent = std::function<void(CmdType cmd)>;

  // Exchanges one operation may run; the next one raises ESockError.
  static constexpr int kMaxExchanges = 20;

  // Bounds on one operation against a slow or hostile server; each ends it with ESockError.
  // The whole operation, every exchange of it from the look-up to the last byte, in ms; 0 = none.
  std::int32_t TotalTimeOut = 60000;
  std::size_t MaxHeaderLine = 8192;  // bytes of one answer line, its terminator included
  int MaxHeaderLines = 100;          // answer lines between the status line and the blank one
  std::size_t MaxBody = 1 << 20;     // bytes of a body held in memory

  TNMHTTP();
  ~TNMHTTP() override;

  // --- Published properties and events.
  // After a request the body text; with InputFileMode the name of the file receiving the body.
  std::string Body = "Default.htm";
  // After a request the header text; with OutputFileMode the name of the file receiving it.
  std::string Header = "Head.txt";
  THeaderInfo HeaderInfo;
  bool InputFileMode = false;
  // The header goes to the file named by Header; the kinds that send data send the file named
  // by their data argument.
  bool OutputFileMode = false;
  TResultEvent OnSuccess;    // an exchange ended with a status of 298 or less
  TResultEvent OnFailure;    // an exchange ended with a status of 400 or more
  THandlerEvent OnRedirect;  // setting the flag ends the request with the redirect answer
  TNotifyEvent OnAboutToSend;
  TNotifyEvent OnAuthenticationNeeded;

  // --- Unpublished.
  std::string RequestUrl;
  std::string RequestPath;
  TExStringList SendHeader;
  std::string ReceivedCookie;  // the last Set-Cookie value of the latest answer
  std::string SendData;
  std::string TargetUri;
  CmdType CurrentCmd = CmdGET;

  // Sets LookupDone and cancels, so an expiring TimeOut ends any wait at once.
  void Abort() override;

  // --- Virtual operations, in this order.
  virtual void RunRequest();
  virtual void SplitUrl();
  virtual void BuildRequest();
  virtual void ReadResponseHeader();
  virtual void SendRequest();
  virtual void Options(const std::string& url);
  virtual void Get(const std::string& url);
  // The data is URL-decoded first, unless OutputFileMode makes it the name of the file to send.
  virtual void Post(const std::string& url, const std::string& data);
  virtual void Put(const std::string& url, const std::string& data);
  virtual void Head(const std::string& url);
  virtual void Patch(const std::string& url, const std::string& data);
  virtual void Delete(const std::string& url);
  virtual void Trace(const std::string& url, const std::string& data);
  virtual void Copy(const std::string& url, const std::string& target);
  virtual void Move(const std::string& url, const std::string& target);
  // Link and Unlink send the "Link: " line and no data block.
  virtual void Link(const std::string& url, const std::string& target);
  virtual void Unlink(const std::string& url, const std::string& target);
  // Sends `request` as the whole request (request line, header lines, blank line, body) to the
  // host of `url`, then reads the answer like any other kind.
  virtual void Raw(const std::string& url, const std::string& request);

 private:
  void Run(CmdType cmd, const std::string& url);
  void RunExchanges();
  void TotalTimeUp();
  bool CookieGoesTo(const std::string& host) const;
  void Exchange(std::int16_t& status);
  void SendBytes(const std::string& bytes);
  void ReadBody();
  std::int64_t DataLength() const;

  // The answer watch: while it runs, no byte moving for TimeOut ms cancels the wait, and the
  // cancelled operation's EAbortError becomes an ESockError that says what timed out.
  template <class Operation>
  void Watched(const char* what, Operation&& operation);
  std::int64_t Progress() const;
  void WatchTick();

  std::unique_ptr<QTimer> m_total;
  bool m_totalExpired = false;
  // The cookie a redirect answer set, and the host that set it: it goes back to that host only.
  std::string m_redirectCookie;
  std::string m_redirectCookieHost;
  std::unique_ptr<QTimer> m_watch;
  std::int64_t m_watchProgress = 0;
  std::chrono::steady_clock::time_point m_watchQuietSince;
  bool m_watchFired = false;
};

}  // namespace ventari
