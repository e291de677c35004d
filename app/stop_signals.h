#pragma once
// TERM and INT end the robot cleanly through the event loop: the signal handler only writes a
// byte into a pipe, which a socket notifier reads on the user-interface thread. A thread of its
// own says at once on the log what the stop waits for (the game's run blocks the event loop)
// and that a second stop changes nothing.

#include <QObject>

#include <thread>

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
  std::thread m_acknowledger;
  bool m_stopSeen = false;
};

}  // namespace ventari
