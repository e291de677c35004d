#pragma once
// TERM and INT end the robot cleanly through the event loop: the signal handler only writes a
// byte into a pipe, which a socket notifier reads on the user-interface thread.

#include <QObject>

class QSocketNotifier;

namespace ventari {

class QtAppControl;

// TERM or INT has come: seen at once, even while the event loop waits on a program.
bool StopSignalReceived();

class StopSignals final : public QObject {
 public:
  explicit StopSignals(QtAppControl& app);
  ~StopSignals() override;
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  void Stop();

  QtAppControl& m_app;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace ventari
