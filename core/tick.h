#pragma once
// The surveillance tick: which human players are late, the window's colour and state, the ready
// sound, and once the deadline has passed the generation or the host's reminder.

namespace ventari {

class Clock;
class Generation;
class Mailer;
class MonitorView;
class RefreshCycle;
class SoundPlayer;
struct ProgramRecords;

class SurveillanceTick {
 public:
  SurveillanceTick(ProgramRecords& records, MonitorView& view, SoundPlayer& sound,
                   const Clock& clock, Mailer& mailer, Generation& generation,
                   RefreshCycle& refresh);

  // One tick (Timer1Timer). `hostAsked`: the host clicked "rafraîchit", which sends the
  // manual-mode reminder again. Raises the runtime's errors.
  void Run(bool hostAsked = false);

 private:
  ProgramRecords& m_records;
  MonitorView& m_view;
  SoundPlayer& m_sound;
  const Clock& m_clock;
  Mailer& m_mailer;
  Generation& m_generation;
  RefreshCycle& m_refresh;
};

}  // namespace ventari
