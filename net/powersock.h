#pragma once
// TPowersock: one TCP client connection over IPv4 whose operations look blocking to the caller
// (connect, write, read a line, capture until the peer closes) while the socket itself is
// non-blocking. Every wait is made of pump steps, so timers, buttons and repaints keep running.
// Everything happens on the UI thread: socket readiness, the name look-up's answer and the
// component's own follow-up events all arrive at a receiver object as events 1125 to 1128.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/component.h"
#include "platform/errors.h"

class QEvent;
class QSocketNotifier;
class QTimer;

namespace ventari {

// Event types of the component's receiver object.
inline constexpr int WM_SOCKEVENT = 1125;        // socket notice: code and error number
inline constexpr int WM_HOSTLOOKUP = 1126;       // the name look-up has answered
inline constexpr int WM_WRITEFROMSTREAM = 1127;  // send the next chunk
inline constexpr int WM_READTOSTREAM = 1128;     // read the next chunk

// Notice codes carried by WM_SOCKEVENT.
enum SocketNotice : int {
  NoticeRead = 1,
  NoticeWrite = 2,
  NoticeOutOfBand = 4,
  NoticeAccept = 8,
  NoticeConnect = 16,
  NoticeClose = 32,
};

// A peer sent more than a bound allows; the bytes received so far are dropped.
class EBoundError : public ESockError {
 public:
  using ESockError::ESockError;
};

// "10061:Connection refused" for a number of the table, "" for 0, otherwise
// "Unknown Error No. " and the number.
std::string SocketErrorText(int32_t errorNo);

// The socket error number (10000 range) of an errno value; 0 stays 0.
int32_t SocketErrorFromErrno(int err);

// A timer that calls OnTimer every Interval milliseconds while it is enabled and has a handler.
class TThreadTimer : public TComponent {
 public:
  // Receives the message of an error raised by the OnTimer handler: the timer runs from the
  // event loop, where nothing may propagate.
  using TOnException = std::function<void(const std::string& message)>;

  TThreadTimer();
  ~TThreadTimer() override;

  uint32_t Interval() const { return m_interval; }
  void SetInterval(uint32_t milliseconds);
  bool Enabled() const { return m_enabled; }
  void SetEnabled(bool enabled);
  const TNotifyEvent& OnTimer() const { return m_onTimer; }
  void SetOnTimer(TNotifyEvent handler);
  TOnException OnException;

 private:
  void UpdateTimer();

  uint32_t m_interval = 1000;
  bool m_enabled = true;
  TNotifyEvent m_onTimer;
  std::unique_ptr<QTimer> m_timer;
};

class PowersockReceiver;

class TPowersock : public TComponent {
 public:
  using THandlerEvent = std::function<void(bool& handled)>;
  using TOnStatus = std::function<void(TComponent& sender, const std::string& status)>;
  using TOnSocketError =
      std::function<void(TComponent& sender, uint16_t errorNo, const std::string& text)>;

  // Raises ESockError "Initializaton of windows sockets failed" when no socket can be made.
  TPowersock();
  ~TPowersock() override;

  // --- Published properties and events.
  std::string Host;         // dotted IPv4 address or host name
  int32_t Port = 0;         // only the low 16 bits are used
  int32_t TimeOut = 0;      // ms, bounds the look-up and the connect phase; 0 or below: no limit
  int32_t ReportLevel = 0;  // highest status level reported
  TNotifyEvent OnDisconnect;
  TNotifyEvent OnConnect;
  THandlerEvent OnInvalidHost;
  TNotifyEvent OnHostResolved;
  TOnStatus OnStatus;
  TNotifyEvent OnConnectionFailed;
  // Published by the HTTP client.
  std::string Proxy;  // when set, the look-up and the connection go to Proxy:ProxyPort
  int32_t ProxyPort = 0;
  TNotifyEvent OnPacketRecvd;
  TNotifyEvent OnPacketSent;
  // The application's error display for errors raised inside the time-out timer's handler.
  TThreadTimer::TOnException OnException;

  // --- Public, unpublished.
  std::string Status;  // last reported status text
  bool Connected = false;
  int16_t ReplyNumber = 0;  // leading number of the last Transaction reply, at most 32767
  std::string LastReply;
  int32_t LastErrorNo = 0;
  int32_t BytesTotal = 0;
  int32_t BytesSent = 0;
  int32_t BytesRecvd = 0;
  TOnSocketError OnSocketError;
  // Bounds on what a peer may make the component hold; 0 = no bound. A longer line ends ReadLn,
  // a longer text ends CaptureString, each with ESockError and the received bytes dropped.
  // While either is set, the receive buffer holds at most 64 KiB (or the line bound, if larger)
  // and the rest waits in the socket.
  std::size_t MaxLineLength = 0;
  std::size_t MaxCaptureLength = 0;

  // --- Virtual operations, in this order.
  // Waits for an incoming connection on a listening socket; returns the new descriptor.
  virtual int Accept();
  // Resolves the peer and connects; raises ESockError on failure.
  virtual void Connect();
  // Closes the connection; a fresh socket takes its place.
  virtual void Disconnect();
  // Writeln of the command, ReadLn of the reply; ReplyNumber from its leading digits.
  virtual std::string Transaction(const std::string& command);
  // Called when the time-out fires and at destruction; does nothing here.
  virtual void Abort();

  // --- Operations.
  void Cancel();
  // Queues the bytes and waits until they are sent. Length 0: up to the first zero byte (at
  // most 65535 bytes are looked at).
  void SendBuffer(const char* data, uint16_t length);
  // Sends the text up to its first zero character, at most 16384 characters.
  void Write(const std::string& text);
  void Writeln(const std::string& text);
  // The next line with its terminator (LF, and a CR before it if any).
  std::string ReadLn();
  void SendFile(const std::string& fileName);
  // Everything received until the peer closes goes into a new file.
  void CaptureFile(const std::string& fileName);
  // count -1: until the peer closes; 0 or more: until the text holds at least count bytes.
  void CaptureString(std::string& text, int32_t count);
  void StatusMessage(uint8_t level, const std::string& text);
  // The error text, reported as a status first.
  std::string SocketErrorText(int32_t errorNo);

  // The number of live components in the process.
  static int WinsockUsers();
  // The current socket descriptor, -1 when there is none.
  int SocketHandle() const { return m_socket; }

 protected:
  bool Canceled = false;        // every wait ends on it
  bool TimedOut = false;        // the time-out timer fired
  bool LookupDone = false;      // the name look-up answered
  bool LastEventOK = true;      // the last notice carried no error
  bool AllSent = true;          // the send queue is empty
  bool TransferActive = false;  // SendFile, CaptureFile or CaptureString is running

  // Bytes received and not yet taken by a read; the HTTP client watches them to bound its waits.
  std::size_t ReceivedPending() const { return m_recvBuffer.size(); }

 private:
  friend class PowersockReceiver;

  void InitWinsock();
  bool OpenSocket(bool lingerReset);
  void RenewSocket();
  void CheckSocketError(int32_t tolerated, int32_t errorNo);
  uint32_t ResolveHost();
  void StartLookup(const std::string& name);
  void AbandonLookup();
  void TimerOn();
  void TimerOff();
  void TimerFired();
  void ReadToStream();
  void WriteFromStream();
  void AppendReceived(const char* data, size_t n);
  std::size_t ReceiveRoom() const;
  std::size_t ReceiveWanted();
  void TookReceived();
  void DropReceived();
  void RaiseIfReceiveFailed();
  std::size_t FindLineEnd();
  bool SomethingToSend() const;
  void FailSend(const std::string& message);
  void UpdateWatches();
  void SwitchNoticesOff();
  void Dispatch(QEvent* event);
  void HandleSocketNotice(int code);
  void SendNotice(int code, int32_t error);
  void OnReadable();
  void OnWritable();
  void Post(int type);

  std::unique_ptr<PowersockReceiver> m_receiver;
  std::unique_ptr<QSocketNotifier> m_readNotifier;
  std::unique_ptr<QSocketNotifier> m_writeNotifier;
  std::unique_ptr<TThreadTimer> m_timer;
  int m_socket = -1;
  bool m_connecting = false;     // a connect was issued and has not been answered
  bool m_noticesOn = false;      // notices of the current socket are delivered
  bool m_connectFailed = false;  // the last connect ended with an error
  bool m_sendFailed = false;     // the waiting send cannot complete: m_sendError says why
  std::string m_sendError;
  bool m_busy = false;      // ReadToStream or WriteFromStream is running
  bool m_noReopen = false;  // RenewSocket makes no fresh socket (destruction)
  int m_sendFileFd = -1;    // SendFile: the file stands in for the send queue
  int m_recvFileFd = -1;    // CaptureFile: the file stands in for the receive buffer
  int m_fileError = 0;      // errno of a failed read or write of that file
  int64_t m_filePos = 0;    // send position in the file
  int64_t m_fileSize = 0;
  int m_lookupSeq = 0;           // number of the look-up whose answer is awaited, 0 = none
  int m_lookupCount = 0;         // look-ups started so far
  int m_qtLookupId = -1;         // the running name look-up, for abandoning it
  uint32_t m_lookupAddress = 0;  // network order, 0 = none
  uint32_t m_remoteAddress = 0;  // network order
  uint16_t m_remotePort = 0;     // network order
  std::string m_sendTextBuffer;
  std::string m_recvBuffer, m_recvSpare;
  std::size_t m_lineScanned = 0;  // leading bytes of m_recvBuffer known to hold no LF
  bool m_recvHeld = false;        // the receive buffer is full: the rest waits in the socket
  std::string m_recvError;        // why received bytes were lost; raised by the next read
  std::string m_sendQueue, m_sendSpare;
};

}  // namespace ventari
