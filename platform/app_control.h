#pragma once
// The request to end the application. The application ends once control is back in its event
// loop; until then nothing may act on its behalf. A requested end always follows a failure: the
// program's exit status is then kFailureExitStatus.

namespace ventari {

inline constexpr int kFailureExitStatus = 1;
// An end the service manager may retry later (sysexits' EX_TEMPFAIL): the league page could not
// be reached, which a web server restarted at night explains.
inline constexpr int kTemporaryFailureExitStatus = 75;

class AppControl {
 public:
  virtual ~AppControl() = default;
  virtual void RequestEnd() = 0;
  // The same end, after a failure that may go away by itself.
  virtual void RequestEndForRetry() { RequestEnd(); }
  virtual bool EndRequested() const = 0;
};

// Remembers the request; the window layer also makes the event loop end.
class EndFlag : public AppControl {
 public:
  void RequestEnd() override { m_ended = true; }
  void RequestEndForRetry() override { m_ended = m_retry = true; }
  bool EndRequested() const override { return m_ended; }
  bool RetryAsked() const { return m_retry; }

 private:
  bool m_ended = false;
  bool m_retry = false;
};

}  // namespace ventari
