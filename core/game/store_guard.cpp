#include "core/game/store_guard.h"

#include "core/game/game_store.h"
#include "core/game/mail_link.h"
#include "core/game/records.h"
#include "mail/mailer.h"
#include "platform/dialogs.h"
#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

std::string StoreProblemToldPath(const std::string& gameDir) {
  return GameStorePath(gameDir) + ".told";
}

StoreGuard::StoreGuard(ProgramRecords& records, Mailer& mailer, Dialogs& dialogs)
    : m_records(records), m_mailer(mailer), m_dialogs(dialogs) {}

bool StoreGuard::Usable() {
  if (m_records.game.gameName.empty()) return true;  // no game read yet: nothing to act on
  const std::string gameDir = m_records.host.repJeu + "/" + m_records.game.gameName;
  const std::optional<std::string> problem = GameStoreProblem(gameDir, GameStore::Access::kWrite);
  if (!problem) {
    if (!m_shown.empty()) LogEvent("info", "the game store can be used again");
    m_shown.clear();
    DeleteFileQuiet(StoreProblemToldPath(gameDir));
    return true;
  }
  if (m_shown != *problem) {
    m_shown = *problem;
    LogEvent("error", *problem + "; nothing is done on the game until it is mended or moved away");
    Tell(gameDir, *problem);
    m_dialogs.ShowMessage(*problem +
                          ". Nothing is done on the game until it is dealt with: put back a "
                          "copy of it, or move it away for the robot to start a new one.");
  }
  return false;
}

void StoreGuard::Tell(const std::string& gameDir, const std::string& problem) {
  // Once for this problem, across restarts.
  const std::string told = StoreProblemToldPath(gameDir);
  try {
    if (FileExists(told) && ReadWholeFile(told) == problem) return;
  } catch (const EInOutError&) {
  }
  const std::string& g = m_records.game.gameName;
  const std::string savedDir = GetCurrentDir();
  m_mailer.SendEmail(g + " human host", m_records.game.hostAddress, "ERREUR Ventari : jeu " + g,
                     "registre de la partie illisible, le robot ne fait plus rien sur elle" +
                         std::string(kParagraph) + problem + kParagraph +
                         "remettez une copie du registre, ou déplacez-le : le robot en refait "
                         "un neuf, et ce qu'il avait noté (accusés, rappels) peut repartir." +
                         kParagraph + "le robot Ventari de service.",
                     std::nullopt, std::nullopt, std::nullopt);
  SetCurrentDir(savedDir);
  try {
    ReplaceFileContents(told, problem);
  } catch (const EInOutError& error) {
    LogEvent("error", "the game store's problem not recorded in " + told + ": " + error.what());
  }
}

}  // namespace ventari
