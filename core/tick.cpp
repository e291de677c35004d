#include "core/tick.h"

#include "core/game_checks.h"
#include "core/generation.h"
#include "core/monitor_view.h"
#include "core/records.h"
#include "core/refresh.h"
#include "core/turn_record.h"
#include "mail/mailer.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sound.h"
#include "stars/stars_file.h"

namespace ventari {

SurveillanceTick::SurveillanceTick(ProgramRecords& records, MonitorView& view, SoundPlayer& sound,
                                   const Clock& clock, Mailer& mailer, Generation& generation,
                                   RefreshCycle& refresh)
    : m_records(records),
      m_view(view),
      m_sound(sound),
      m_clock(clock),
      m_mailer(mailer),
      m_generation(generation),
      m_refresh(refresh) {}

void SurveillanceTick::Run(bool hostAsked) {
  const HostSettings& host = m_records.host;
  const GameSettings& game = m_records.game;
  MonitorState& state = m_records.monitor;
  const std::string& g = game.gameName;
  CheckGameSettings(game);

  state.lateText.clear();
  bool allIn = true;
  // An order file counts only when it is this turn's, of this game and of this player: last
  // turn's file or a cut-off upload would otherwise have the turn generated without him.
  const std::string gameDir = host.repJeu + "/" + g;
  const std::string stem = gameDir + "/" + g;
  stars::FileHeader hostHeader;
  const bool hostRead = stars::ReadHostHeader(stem + ".hst", hostHeader);
  for (int n = 1; n <= game.playerCount; ++n) {
    const PlayerEntry& player = game.player(n);  // row 13 raises the range error
    if (player.isComputer()) continue;
    if (hostRead && stars::JudgeOrderFile(stem + ".x" + std::to_string(n), hostHeader, n) ==
                        stars::OrderVerdict::kIn)
      continue;
    allIn = false;
    state.lateText += std::to_string(n) + "(" + player.name + ")";
  }

  if (allIn) {
    m_view.SetColour(WindowColour::InfoBackground);
    m_view.SetLine(WindowLine::State, "prêt à générer");
    m_sound.Play("pret.wav");
  } else {
    m_view.SetColour(WindowColour::ButtonFace);
    m_view.SetLine(WindowLine::State, "incomplet");
  }

  // Equal is not passed. A deadline never converted (or that of a turn already generated) is
  // no deadline: the zero of the scale would otherwise count as long past.
  const bool passed = state.deadlineKnown && m_clock.Now() > state.deadline;
  if (!passed) {
    m_refresh.Run();
    return;
  }

  if (!allIn) {
    m_view.SetLine(WindowLine::State, "en retard");
    m_refresh.Run();
    return;
  }

  m_view.SetLine(WindowLine::State, "devrait générer");
  if (game.autoGenerate) {
    m_generation.Run();  // ends with its own refresh
    return;
  }
  // Once per turn (every box closed re-activates the window and runs a tick), and again
  // whenever the host asks with "rafraîchit".
  const std::string record = ReminderRecordPath(gameDir);
  const std::string turnKey =
      hostRead ? "turn " + std::to_string(hostHeader.turn) : "year " + state.yearText;
  if (hostAsked || !TurnRecordHolds(record, turnKey)) {
    state.savedDir = GetCurrentDir();
    m_mailer.SendEmail(
        g + " human host", game.hostAddress, "Ventari : jeu " + g + " année " + state.yearText,
        "génération année " + state.yearText +
            " prête à être effectuée manuellement\n\r\n\rle robot Ventari de service.",
        std::nullopt, std::nullopt);
    SetCurrentDir(state.savedDir);
    WriteTurnRecord(record, turnKey);
  }
  m_refresh.Run();
}

}  // namespace ventari
