// The connection component: non-blocking IPv4 socket, readiness watched by QSocketNotifier, every
// notice delivered to one receiver object as events 1125..1128 and handled on the UI thread.

#include "net/powersock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "net/pump.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace ventari {

namespace {

constexpr size_t kChunk = 16383;         // bytes per send or recv
constexpr size_t kSendTextRoom = 16385;  // Write's text buffer, terminating zero included
constexpr size_t kBoundedRoom = 65536;   // receive buffer while a bound is set
constexpr int32_t kWouldBlock = 10035;
constexpr int32_t kHostNotFound = 11001;
constexpr int32_t kNoRecovery = 11003;
constexpr int32_t kNoAddress = 11004;

int g_winsockUsers = 0;

// WM_SOCKEVENT: a notice code and its error number (0 = none).
class SockEvent : public QEvent {
 public:
  SockEvent(int code, int32_t error)
      : QEvent(static_cast<QEvent::Type>(WM_SOCKEVENT)), code(code), error(error) {}
  int code;
  int32_t error;
};

// WM_HOSTLOOKUP: the answer of one look-up.
class LookupEvent : public QEvent {
 public:
  LookupEvent(int id, int32_t error, uint32_t address)
      : QEvent(static_cast<QEvent::Type>(WM_HOSTLOOKUP)), id(id), error(error), address(address) {}
  int id;
  int32_t error;
  uint32_t address;  // network order
};

// Counters are 32 bits wide; they wrap instead of overflowing.
int32_t AddWrapping(int32_t counter, int64_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + static_cast<uint32_t>(n));
}

// The first IPv4 address of a look-up answer, in network order; 0 when there is none.
uint32_t FirstIPv4(const QList<QHostAddress>& addresses) {
  for (const QHostAddress& address : addresses) {
    bool ok = false;
    quint32 v4 = address.toIPv4Address(&ok);
    if (ok && address.protocol() == QAbstractSocket::IPv4Protocol) return htonl(v4);
  }
  return 0;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

}  // namespace

// Stands in for the hidden window: every socket event of one component arrives here.
class PowersockReceiver : public QObject {
 public:
  explicit PowersockReceiver(TPowersock* owner) : m_owner(owner) {}

  bool event(QEvent* event) override {
    const int type = event->type();
    if (type >= WM_SOCKEVENT && type <= WM_READTOSTREAM) {
      m_owner->Dispatch(event);
      return true;
    }
    return QObject::event(event);
  }

 private:
  TPowersock* m_owner;
};

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TPowersock::TPowersock()
    : m_receiver(std::make_unique<PowersockReceiver>(this)),
      m_timer(std::make_unique<TThreadTimer>()),
      m_sendTextBuffer(kSendTextRoom, '\0') {
  m_timer->SetEnabled(false);
  m_timer->SetOnTimer([this](TComponent&) { TimerFired(); });
  m_timer->OnException = [this](const std::string& message) {
    if (OnException) OnException(message);
  };
  InitWinsock();
}

TPowersock::~TPowersock() {
  BeginDestroy();
  // Nothing may leave a destructor; the socket is closed whatever the handlers do.
  try {
    Abort();
    Cancel();
  } catch (...) {
  }
  m_timer.reset();
  AbandonLookup();
  m_noReopen = true;
  try {
    RenewSocket();
  } catch (...) {
  }
  if (m_sendFileFd >= 0) ::close(m_sendFileFd);
  if (m_recvFileFd >= 0) ::close(m_recvFileFd);
  m_receiver.reset();  // also drops its pending events
  --g_winsockUsers;
}

int TPowersock::WinsockUsers() { return g_winsockUsers; }

void TPowersock::InitWinsock() {
  // The process needs no start-up of its own: sends use MSG_NOSIGNAL, so a peer that has gone
  // never raises SIGPIPE. The count is kept for the components' lifetimes.
  ++g_winsockUsers;
  if (!OpenSocket(true)) {
    --g_winsockUsers;
    throw ESockError("Initializaton of windows sockets failed");
  }
}

bool TPowersock::OpenSocket(bool lingerReset) {
  // Only the component's first socket resets its connection on close.
  const int fd =
      ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, lingerReset ? IPPROTO_TCP : 0);
  if (fd < 0) return false;
  if (lingerReset) {
    linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  m_socket = fd;
  m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  m_readNotifier->setEnabled(false);
  m_writeNotifier->setEnabled(false);
  QObject::connect(m_readNotifier.get(), &QSocketNotifier::activated, m_receiver.get(),
                   [this] { OnReadable(); });
  QObject::connect(m_writeNotifier.get(), &QSocketNotifier::activated, m_receiver.get(),
                   [this] { OnWritable(); });
  m_noticesOn = true;
  return true;
}

void TPowersock::RenewSocket() {
  StatusMessage(4, "Request Close Socket");
  Connected = false;
  m_connecting = false;
  m_connectFailed = false;
  m_recvHeld = false;  // nothing waits in a fresh socket
  if (m_socket < 0) return;
  // The notifiers go before their descriptor does.
  m_readNotifier.reset();
  m_writeNotifier.reset();
  m_noticesOn = false;
  const int closed = ::close(m_socket);
  const int err = errno;
  m_socket = -1;
  // Linux releases the descriptor even when close reports an error, so a fresh socket is made
  // in any case; the error is raised afterwards.
  if (closed == 0 && !Destroying() && OnDisconnect) OnDisconnect(*this);
  if (!m_noReopen) OpenSocket(false);
  if (closed != 0) CheckSocketError(kWouldBlock, SocketErrorFromErrno(err));
}

// ---------------------------------------------------------------------------------------------
// Status, errors, time-out

void TPowersock::StatusMessage(uint8_t level, const std::string& text) {
  if (static_cast<int32_t>(level) > ReportLevel) return;
  Status = text;
  if (!Destroying() && OnStatus) OnStatus(*this, Status);
}

std::string TPowersock::SocketErrorText(int32_t errorNo) {
  StatusMessage(8, "Looking Up Error Message");
  return ventari::SocketErrorText(errorNo);
}

void TPowersock::CheckSocketError(int32_t tolerated, int32_t errorNo) {
  StatusMessage(16, "Checking Error In Error Manager");
  LastErrorNo = errorNo;
  if (LastErrorNo == tolerated) return;
  const std::string text = SocketErrorText(LastErrorNo);
  if (OnSocketError) OnSocketError(*this, static_cast<uint16_t>(LastErrorNo), text);
  throw ESockError(text);
}

void TPowersock::TimerOn() {
  StatusMessage(8, "Timer On");
  TimedOut = false;
  // A negative time-out means no limit, as 0 does.
  m_timer->SetInterval(TimeOut > 0 ? static_cast<uint32_t>(TimeOut) : 0);
  m_timer->SetEnabled(true);
}

void TPowersock::TimerOff() {
  StatusMessage(8, "Timer Off");
  m_timer->SetEnabled(false);
}

void TPowersock::TimerFired() {
  StatusMessage(8, "Timer Triggered");
  TimerOff();
  TimedOut = true;
  Abort();
}

void TPowersock::Abort() {}

void TPowersock::Cancel() {
  StatusMessage(8, "Canceling");
  Canceled = true;
}

// ---------------------------------------------------------------------------------------------
// Notices

void TPowersock::Post(int type) {
  QCoreApplication::postEvent(m_receiver.get(), new QEvent(static_cast<QEvent::Type>(type)));
}

void TPowersock::SendNotice(int code, int32_t error) {
  SockEvent notice(code, error);
  QCoreApplication::sendEvent(m_receiver.get(), &notice);
}

void TPowersock::OnReadable() {
  if (m_socket < 0) return;
  // Readable means data, the peer's orderly end, or a reset: peek to tell which.
  char byte;
  const ssize_t n = ::recv(m_socket, &byte, 1, MSG_PEEK);
  const int err = errno;
  if (n > 0) {
    SendNotice(NoticeRead, 0);
  } else if (n == 0) {
    SendNotice(NoticeClose, 0);
  } else if (!WouldBlock(err)) {
    SendNotice(NoticeClose, SocketErrorFromErrno(err));
  }
}

void TPowersock::OnWritable() {
  if (m_socket < 0) return;
  if (m_connecting) {
    // A connecting socket turns writable when the connect has ended, one way or the other.
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
    m_connecting = false;
    m_connectFailed = soError != 0;
    UpdateWatches();
    SendNotice(NoticeConnect, SocketErrorFromErrno(soError));
  } else {
    SendNotice(NoticeWrite, 0);
  }
}

void TPowersock::UpdateWatches() {
  if (!m_readNotifier || !m_writeNotifier) return;
  // Writability is watched only while it matters: an idle connection wakes nobody.
  m_readNotifier->setEnabled(m_noticesOn && Connected && !m_recvHeld);
  m_writeNotifier->setEnabled(
      m_noticesOn &&
      (m_connecting || (Connected && !Canceled && !m_sendFailed && SomethingToSend())));
}

void TPowersock::SwitchNoticesOff() {
  m_noticesOn = false;
  UpdateWatches();
}

void TPowersock::Dispatch(QEvent* event) {
  // Nothing raised while handling a notice leaves the dispatcher.
  try {
    switch (static_cast<int>(event->type())) {
      case WM_SOCKEVENT: {
        auto* notice = static_cast<SockEvent*>(event);
        LastEventOK = notice->error == 0;
        if (notice->error != 0) LastErrorNo = notice->error;
        HandleSocketNotice(notice->code);
        break;
      }
      case WM_HOSTLOOKUP: {
        auto* answer = static_cast<LookupEvent*>(event);
        if (answer->id != m_lookupSeq) break;  // the answer of an abandoned look-up
        m_lookupSeq = 0;
        m_qtLookupId = -1;
        LastEventOK = answer->error == 0;
        if (answer->error != 0) LastErrorNo = answer->error;
        m_lookupAddress = answer->address;
        LookupDone = true;
        break;
      }
      case WM_WRITEFROMSTREAM:
        WriteFromStream();
        break;
      case WM_READTOSTREAM:
        ReadToStream();
        break;
      default:
        break;
    }
  } catch (...) {
  }
}

void TPowersock::HandleSocketNotice(int code) {
  switch (code) {
    case NoticeRead:
      ReadToStream();
      break;
    case NoticeWrite:
      WriteFromStream();
      break;
    case NoticeConnect:
      if (LastEventOK) {
        Connected = true;
        UpdateWatches();
        if (OnConnect) OnConnect(*this);
      }
      break;
    case NoticeClose: {
      // Take what is still waiting, then the connection is over.
      char chunk[kChunk];
      try {
        while (!Canceled && m_socket >= 0) {
          const size_t want = ReceiveWanted();
          if (want == 0) {
            // A bounded buffer is full: what still waits would be lost with the socket.
            if (::recv(m_socket, chunk, 1, MSG_PEEK) > 0)
              m_recvError = "Connection closed with more data than can be held";
            break;
          }
          const ssize_t n = ::recv(m_socket, chunk, want, 0);
          if (n <= 0) break;
          AppendReceived(chunk, static_cast<size_t>(n));
        }
      } catch (const std::bad_alloc&) {
        m_recvError = "Out of memory while receiving";
      }
      Connected = false;
      if (!AllSent) FailSend("Connection closed before all data was sent");
      RenewSocket();
      break;
    }
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Name look-up and connection

void TPowersock::StartLookup(const std::string& name) {
  const QString qname = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  const int seq = ++m_lookupCount;
  m_lookupSeq = seq;
  QHostAddress literal;
  if (name.empty() || name.find('\0') != std::string::npos) {
    // Nothing to look up: answered at once as a failed look-up, no wait on the time-out.
    QCoreApplication::postEvent(m_receiver.get(), new LookupEvent(seq, kHostNotFound, 0));
  } else if (literal.setAddress(qname)) {
    // An address the dotted test refused (255.255.255.255, IPv6) is its own answer; no name
    // server is asked for its reverse name.
    const uint32_t address = FirstIPv4({literal});
    QCoreApplication::postEvent(m_receiver.get(),
                                new LookupEvent(seq, address != 0 ? 0 : kNoAddress, address));
  } else {
    PowersockReceiver* receiver = m_receiver.get();
    m_qtLookupId = QHostInfo::lookupHost(qname, receiver, [receiver, seq](const QHostInfo& info) {
      int32_t error = 0;
      uint32_t address = 0;
      switch (info.error()) {
        case QHostInfo::NoError:
          address = FirstIPv4(info.addresses());
          if (address == 0) error = kNoAddress;
          break;
        case QHostInfo::HostNotFound:
          error = kHostNotFound;
          break;
        default:
          error = kNoRecovery;
          break;
      }
      QCoreApplication::postEvent(receiver, new LookupEvent(seq, error, address));
    });
  }
}

void TPowersock::AbandonLookup() {
  if (m_qtLookupId >= 0) QHostInfo::abortHostLookup(m_qtLookupId);
  m_qtLookupId = -1;
  m_lookupSeq = 0;
}

uint32_t TPowersock::ResolveHost() {
  StatusMessage(8, "Resolve Host");
  // The whole name is used, however long: no buffer limits it here, and a name too long for the
  // name system simply fails to resolve.
  const std::string name = Proxy.empty() ? Host : Proxy;
  const in_addr_t dotted = ::inet_addr(name.c_str());
  if (name.find('\0') == std::string::npos && dotted != INADDR_NONE) return dotted;

  TimerOn();
  LookupDone = false;
  m_lookupAddress = 0;
  StartLookup(name);
  while (!LookupDone && !TimedOut && !Canceled) PumpStep();
  TimerOff();
  AbandonLookup();
  if (TimedOut) throw ESockError("Host Lookup Timed Out");
  if (Canceled) throw ESockError("Host Lookup Canceled");
  if (!LastEventOK) throw ESockError("Host Lookup Failed");
  if (OnHostResolved) OnHostResolved(*this);
  return m_lookupAddress;
}

void TPowersock::Connect() {
  StatusMessage(8, "Connecting");
  Canceled = false;
  if (Connected) throw ESockError("Already connected");

  uint32_t address = 0;
  for (int tries = 0;; ++tries) {
    try {
      address = ResolveHost();
    } catch (const ESockError& e) {
      const std::string message = e.what();
      if (message == "Host Lookup Timed Out" || message == "Host Lookup Canceled") throw;
      address = 0;
    }
    if (address != 0) break;
    if (tries > 0 || !OnInvalidHost) throw ESockError("Null Remote Address");
    bool handled = false;
    OnInvalidHost(handled);
    if (!handled) throw ESockError("Null Remote Address");
  }

  m_remoteAddress = address;
  const int32_t port = Proxy.empty() ? Port : ProxyPort;
  m_remotePort = htons(static_cast<uint16_t>(port & 0xFFFF));
  LookupDone = false;
  LastEventOK = true;
  m_sendFailed = false;
  m_noticesOn = m_socket >= 0;
  if (m_connectFailed) {
    // A socket whose connect failed must be dissolved before it can connect again.
    sockaddr unspec{};
    unspec.sa_family = AF_UNSPEC;
    ::connect(m_socket, &unspec, sizeof unspec);
    m_connectFailed = false;
  }

  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = m_remotePort;
  remote.sin_addr.s_addr = m_remoteAddress;
  if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    const int err = errno;
    // A connect in progress is the normal answer of a non-blocking socket.
    CheckSocketError(kWouldBlock, err == EINPROGRESS ? kWouldBlock : SocketErrorFromErrno(err));
  }
  // Even a connect that ended at once is reported by the writability of the socket.
  m_connecting = true;
  UpdateWatches();

  TimerOn();
  while (!Connected && !TimedOut && !Canceled && LastEventOK) PumpStep();
  TimerOff();
  if (!TimedOut && !Canceled && LastEventOK) return;
  if (OnConnectionFailed) OnConnectionFailed(*this);
  if (TimedOut) throw ESockError("Connection Timed out");
  if (Canceled) throw ESockError("Connection Canceled");
  throw ESockError("Connection Failed");
}

void TPowersock::Disconnect() {
  StatusMessage(8, "Disconnecting");
  RenewSocket();
}

int TPowersock::Accept() {
  while (!LookupDone && !Canceled) PumpStep();
  if (Canceled) throw ESockError("Accepting Canceled");
  if (!LastEventOK) throw ESockError("Error creating Data Connection");
  StatusMessage(4, "Accepting");
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  const int fd =
      ::accept4(m_socket, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd >= 0) {
    m_remoteAddress = peer.sin_addr.s_addr;
    m_remotePort = peer.sin_port;
  }
  if (Canceled) {
    Canceled = false;
    if (fd >= 0) ::close(fd);
    throw EAbortError("Socket send aborted");
  }
  return fd;
}

// ---------------------------------------------------------------------------------------------
// Moving the bytes, one chunk per notice

size_t TPowersock::ReceiveRoom() const {
  if (MaxLineLength == 0 && MaxCaptureLength == 0) return 0;
  return std::max(kBoundedRoom, MaxLineLength);
}

size_t TPowersock::ReceiveWanted() {
  const size_t room = ReceiveRoom();
  if (m_recvFileFd >= 0 || room == 0) return kChunk;
  if (m_recvBuffer.size() >= room) {
    // Held back until a read takes bytes: the peer waits, the memory stays bounded.
    m_recvHeld = true;
    UpdateWatches();
    return 0;
  }
  return std::min(kChunk, room - m_recvBuffer.size());
}

void TPowersock::TookReceived() {
  m_lineScanned = 0;
  if (!m_recvHeld || m_recvBuffer.size() >= ReceiveRoom()) return;
  m_recvHeld = false;
  UpdateWatches();
}

void TPowersock::DropReceived() {
  m_recvBuffer.clear();
  m_recvBuffer.shrink_to_fit();
  TookReceived();
}

void TPowersock::RaiseIfReceiveFailed() {
  if (m_recvError.empty()) return;
  const std::string message = std::exchange(m_recvError, std::string());
  // Whatever was kept is the start of something lost: no later read may take it for whole.
  DropReceived();
  throw ESockError(message);
}

void TPowersock::AppendReceived(const char* data, size_t n) {
  if (m_recvFileFd < 0) {
    m_recvBuffer.append(data, n);
    return;
  }
  // A failed write is kept and raised by CaptureFile: the bytes must not vanish silently.
  while (n > 0 && m_fileError == 0) {
    const ssize_t written = ::write(m_recvFileFd, data, n);
    if (written < 0) {
      if (errno != EINTR) m_fileError = errno;
      continue;
    }
    data += written;
    n -= static_cast<size_t>(written);
  }
}

void TPowersock::ReadToStream() {
  if (Canceled) SwitchNoticesOff();
  if (m_busy) return;  // the data stays in the socket
  m_busy = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{m_busy};
  StatusMessage(8, "ReadToStream");
  const size_t want = ReceiveWanted();
  if (want == 0) return;  // the data stays in the socket
  char chunk[kChunk];
  const ssize_t n = m_socket >= 0 ? ::recv(m_socket, chunk, want, 0) : -1;
  const int err = m_socket >= 0 ? errno : EBADF;
  if (n < 0) {
    LastErrorNo = SocketErrorFromErrno(err);
    const std::string text = SocketErrorText(LastErrorNo);
    if (OnSocketError) OnSocketError(*this, static_cast<uint16_t>(LastErrorNo), text);
    return;
  }
  try {
    AppendReceived(chunk, static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    // Raised by the waiting read: a body must never come back silently shortened.
    m_recvError = "Out of memory while receiving";
    return;
  }
  if (TransferActive) {
    BytesRecvd = AddWrapping(BytesRecvd, n);
    if (OnPacketRecvd) OnPacketRecvd(*this);
  }
  // A full chunk: more is probably waiting, read it without waiting for another notice.
  if (n > 0 && static_cast<size_t>(n) == want) Post(WM_READTOSTREAM);
}

void TPowersock::FailSend(const std::string& message) {
  m_sendFailed = true;
  m_sendError = message;
}

bool TPowersock::SomethingToSend() const {
  return m_sendFileFd >= 0 ? m_filePos < m_fileSize : !m_sendQueue.empty();
}

void TPowersock::WriteFromStream() {
  if (m_busy) return;
  m_busy = true;
  struct Clear {
    TPowersock& self;
    ~Clear() {
      self.m_busy = false;
      self.UpdateWatches();
    }
  } clear{*this};
  StatusMessage(8, "WriteFromStream");
  if (Canceled) return;
  if (!SomethingToSend()) {
    // Nothing queued is all sent; otherwise an empty send would wait forever.
    AllSent = true;
    return;
  }

  const bool fileMode = m_sendFileFd >= 0;
  char fileChunk[kChunk];
  const char* data = m_sendQueue.data();
  size_t len = std::min(kChunk, m_sendQueue.size());
  const int64_t start = fileMode ? m_filePos : 0;
  const int64_t size = fileMode ? m_fileSize : static_cast<int64_t>(m_sendQueue.size());
  if (fileMode) {
    const ssize_t got = ::pread(m_sendFileFd, fileChunk, kChunk, start);
    if (got <= 0) {
      // The file shrank or cannot be read: it cannot be sent whole.
      m_fileError = got < 0 ? errno : EIO;
      FailSend(IoErrorMessage(IoCodeFromErrno(m_fileError)));
      return;
    }
    data = fileChunk;
    len = static_cast<size_t>(got);
  }

  const ssize_t n = ::send(m_socket, data, len, MSG_NOSIGNAL);
  if (n < 0) {
    const int err = m_socket >= 0 ? errno : EBADF;
    // Linux answers a send on a socket without connection with EPIPE.
    LastErrorNo = err == EPIPE && !Connected ? 10057 : SocketErrorFromErrno(err);
    if (!WouldBlock(err)) {
      // The connection is broken: the queued bytes can never reach this peer.
      if (!fileMode) m_sendQueue.clear();
      FailSend(SocketErrorText(LastErrorNo));
    }
    return;  // after would-block, the write notice brings us back
  }

  if (start + n >= size) {
    if (fileMode) {
      m_filePos = size;
    } else {
      m_sendQueue.clear();
    }
    AllSent = true;
  } else {
    if (fileMode) {
      m_filePos = start + n;
    } else {
      m_sendSpare.clear();
      m_sendSpare.append(m_sendQueue, static_cast<size_t>(n));
      m_sendQueue.clear();
      m_sendQueue.swap(m_sendSpare);
    }
    Post(WM_WRITEFROMSTREAM);
  }
  BytesSent = AddWrapping(BytesSent, n);
  if (TransferActive && OnPacketSent) OnPacketSent(*this);
}

// ---------------------------------------------------------------------------------------------
// Sending

void TPowersock::SendBuffer(const char* data, uint16_t length) {
  StatusMessage(4, "Sending Buffer");
  if (Canceled) return;
  const size_t len = length != 0 ? length : data != nullptr ? ::strnlen(data, 65535) : 0;
  m_sendQueue.append(data, len);
  AllSent = false;
  m_sendFailed = false;
  Post(WM_WRITEFROMSTREAM);
  UpdateWatches();
  while (!AllSent && !Canceled && !m_sendFailed) PumpStep();
  if (Canceled) {
    Canceled = false;
    throw EAbortError("Socket send aborted");
  }
  if (m_sendFailed) throw ESockError(m_sendError);
}

void TPowersock::Write(const std::string& text) {
  StatusMessage(8, "Write");
  // At most 16384 characters and the terminating zero; the rest does not fit and is not sent.
  const size_t n = std::min(text.size(), kSendTextRoom - 1);
  std::memcpy(m_sendTextBuffer.data(), text.data(), n);
  m_sendTextBuffer[n] = '\0';
  SendBuffer(m_sendTextBuffer.data(), 0);
}

void TPowersock::Writeln(const std::string& text) {
  StatusMessage(8, "Writeln");
  Write(text + "\r\n");
}

void TPowersock::SendFile(const std::string& fileName) {
  StatusMessage(8, "SendFile");
  TransferActive = true;
  const int fd = ::open(NativePath(fileName).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    TransferActive = false;
    RaiseLastIoError();
  }
  struct stat info {};
  ::fstat(fd, &info);
  m_sendFileFd = fd;
  m_fileSize = info.st_size;
  m_filePos = 0;
  m_fileError = 0;
  AllSent = false;
  BytesSent = 0;
  BytesTotal = static_cast<int32_t>(std::min<int64_t>(info.st_size, INT32_MAX));
  m_sendFailed = false;
  {
    struct Restore {
      TPowersock& self;
      ~Restore() {
        ::close(self.m_sendFileFd);
        self.m_sendFileFd = -1;
        self.TransferActive = false;
        self.UpdateWatches();
      }
    } restore{*this};
    Post(WM_WRITEFROMSTREAM);
    UpdateWatches();
    while (!AllSent && !Canceled && BytesTotal > 0 && !m_sendFailed) PumpStep();
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError("Socket send aborted");
  }
  if (m_sendFailed) {
    if (m_fileError != 0) throw EInOutError(IoCodeFromErrno(m_fileError));
    throw ESockError(m_sendError);
  }
}

// ---------------------------------------------------------------------------------------------
// Receiving

// The first LF of the receive buffer within the line bound; the search resumes where the last
// one stopped, so a long line arriving in pieces is looked through once.
size_t TPowersock::FindLineEnd() {
  const size_t end =
      MaxLineLength > 0 ? std::min(m_recvBuffer.size(), MaxLineLength) : m_recvBuffer.size();
  if (m_lineScanned >= end) return std::string::npos;
  const void* lf = std::memchr(m_recvBuffer.data() + m_lineScanned, '\n', end - m_lineScanned);
  if (lf != nullptr) return static_cast<const char*>(lf) - m_recvBuffer.data();
  m_lineScanned = end;
  // A full bounded buffer without LF can never complete its line either.
  const size_t bound = MaxLineLength > 0 ? MaxLineLength : ReceiveRoom();
  if ((MaxLineLength > 0 && end == MaxLineLength) || (m_recvHeld && end == m_recvBuffer.size())) {
    DropReceived();
    throw EBoundError("Received line longer than " + std::to_string(bound) + " bytes");
  }
  return std::string::npos;
}

std::string TPowersock::ReadLn() {
  StatusMessage(8, "ReadLn");
  RaiseIfReceiveFailed();
  size_t lf = FindLineEnd();
  while (lf == std::string::npos) {
    PumpStep();
    if (Canceled) break;
    RaiseIfReceiveFailed();
    lf = FindLineEnd();
    // No line can come any more: the peer has gone and everything it sent is here.
    if (lf == std::string::npos && !Connected)
      throw ESockError("Connection closed before end of line");
  }
  if (Canceled) throw EAbortError("Socket readln aborted");
  std::string line = m_recvBuffer.substr(0, lf + 1);
  if (lf + 1 == m_recvBuffer.size()) {
    m_recvBuffer.clear();
  } else {
    m_recvSpare.clear();
    m_recvSpare.append(m_recvBuffer, lf + 1);
    m_recvBuffer.clear();
    m_recvBuffer.swap(m_recvSpare);
  }
  TookReceived();
  return line;
}

void TPowersock::CaptureString(std::string& text, int32_t count) {
  text.clear();
  TransferActive = true;
  StatusMessage(8, "Capture String");
  BytesRecvd = 0;
  bool closedEarly = false;
  {
    struct Restore {
      bool& active;
      ~Restore() { active = false; }
    } restore{TransferActive};
    const size_t wanted = count > 0 ? static_cast<size_t>(count) : 0;
    for (;;) {
      if (Canceled) break;
      if (count == -1 && !Connected && m_recvBuffer.empty()) break;
      if (count >= 0 && text.size() >= wanted) break;
      if (count < -1) break;
      if (!m_recvError.empty()) break;
      if (!m_recvBuffer.empty()) {
        if (MaxCaptureLength > 0 && m_recvBuffer.size() > MaxCaptureLength - text.size()) {
          text.clear();
          DropReceived();
          throw EBoundError("Received data longer than " + std::to_string(MaxCaptureLength) +
                            " bytes");
        }
        try {
          text.append(m_recvBuffer);
        } catch (const std::bad_alloc&) {
          text.clear();
          DropReceived();
          throw ESockError("Out of memory while receiving");
        }
        m_recvBuffer.clear();
        TookReceived();
      } else if (count >= 0 && !Connected) {
        // The peer has gone before the count was reached: no more bytes will come.
        closedEarly = true;
        break;
      } else {
        PumpStep();
      }
    }
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError("Socket capture aborted");
  }
  if (!m_recvError.empty()) {
    // Bytes were lost on the way: a shortened text must not pass for the whole.
    text.clear();
    RaiseIfReceiveFailed();
  }
  if (closedEarly) throw ESockError("Connection closed before all data arrived");
}

void TPowersock::CaptureFile(const std::string& fileName) {
  TransferActive = true;
  StatusMessage(8, "CaptureFile");
  const int fd =
      ::open(NativePath(fileName).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    TransferActive = false;
    RaiseLastIoError();
  }
  m_recvFileFd = fd;
  m_fileError = 0;
  BytesRecvd = 0;
  {
    struct Restore {
      TPowersock& self;
      ~Restore() {
        ::close(self.m_recvFileFd);
        self.m_recvFileFd = -1;
        self.TransferActive = false;
      }
    } restore{*this};
    if (!m_recvBuffer.empty()) {
      AppendReceived(m_recvBuffer.data(), m_recvBuffer.size());
      BytesRecvd = static_cast<int32_t>(std::min<size_t>(m_recvBuffer.size(), INT32_MAX));
      m_recvBuffer.clear();
      TookReceived();
    }
    while (Connected && !Canceled && m_fileError == 0) PumpStep();
  }
  if (Canceled) {
    Canceled = false;
    throw EAbortError("Socket send aborted");
  }
  if (m_fileError != 0) throw EInOutError(IoCodeFromErrno(m_fileError));
}

std::string TPowersock::Transaction(const std::string& command) {
  StatusMessage(8, "Transaction");
  ReplyNumber = 0;
  Writeln(command);
  LastReply = ReadLn();
  if (!LastReply.empty()) {
    StatusMessage(1, LastReply);
    int64_t value = 0;
    size_t digits = 0;
    while (digits < LastReply.size() && digits < 10 && LastReply[digits] >= '0' &&
           LastReply[digits] <= '9') {
      value = value * 10 + (LastReply[digits] - '0');
      ++digits;
    }
    // A number beyond the 16-bit field is stored as its largest value.
    if (digits > 0) ReplyNumber = static_cast<int16_t>(std::min<int64_t>(value, INT16_MAX));
  }
  return LastReply;
}

}  // namespace ventari
