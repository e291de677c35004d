#pragma once
// The request to end: remembered at once, carried out when control is back in the event loop.

#include "platform/app_control.h"

namespace ventari {

class QtAppControl final : public AppControl {
 public:
  void RequestEnd() override;
  void RequestEndForRetry() override;
  // The host's stop (TERM, INT): the same end, with exit status 0.
  void RequestStop();
  // Also true as soon as a stop signal has come, before the event loop has read it: a
  // generation then stops after the step in progress.
  bool EndRequested() const override;
  // Why the event loop ended: after a failure, on a stop signal, or (nothing asked) because
  // the window was closed.
  const char* EndReason() const;
  // The same in a word or two of French, for the players' status page.
  const char* EndNote() const { return m_note; }

 private:
  void End(int status, const char* reason, const char* note);
  bool m_ended = false;
  const char* m_reason = "the window was closed";
  const char* m_note = "fenêtre fermée";
};

// The log's last line: why the robot ended and its exit status.
void LogEnd(const QtAppControl& app, int status);

}  // namespace ventari
