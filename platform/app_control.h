#pragma once
// The request to end the application. The application ends once control is back in its event
// loop; until then nothing may act on its behalf. A requested end always follows a failure: the
// program's exit status is then kFailureExitStatus.

namespace ventari {

inline constexpr int kFailureExitStatus = 1;

class AppControl {
 public:
  virtual ~AppControl() = default;
  virtual void RequestEnd() = 0;
  virtual bool EndRequested() const = 0;
};

// Remembers the request; the window layer also makes the event loop end.
class EndFlag : public AppControl {
 public:
  void RequestEnd() override { m_ended = true; }
  bool EndRequested() const override { return m_ended; }

 private:
  bool m_ended = false;
};

}  // namespace ventari
