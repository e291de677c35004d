#pragma once
// The robot's ears between two minutes: the working folder, the game folder and the per-game
// folder are watched, and a change to an order file, the host file, a cache or a settings file
// is followed, once the writing has settled, by a look at the game (a tick). A look that would
// start inside a running one waits for its end.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/folder_watch.h"

namespace ventari {

struct FileReactionHooks {
  std::function<void()> look;  // one tick
  std::function<bool()> busy;  // a refresh, tick or generation runs
  std::function<std::vector<std::string>()> folders;
  // When to look again without a change (a cut upload to refuse later); nothing: not needed.
  std::function<std::optional<std::chrono::milliseconds>()> lookAgainIn;
  // The folders mailed orders arrive in (a Maildir's new/ and cur/, where a mail client may move
  // them): any file landing there matters, and is complete when it lands.
  std::vector<std::string> mailFolders;
};

struct ProgramRecords;

// The working folder (ventari.def), the game folder (ventari.pla) and the current game's folder
// (its files), as the settings read so far name them, and the new/ of the Maildir orders come by.
std::vector<std::string> WatchedFolders(const ProgramRecords& records,
                                        const std::string& workingFolder,
                                        const std::optional<std::string>& maildir);
// A Maildir's new/ and cur/, as watched; none without one.
std::vector<std::string> MailFolders(const std::optional<std::string>& maildir);

// The file names a look is for: order files (<game>.x<n>), host files, the caches, the
// settings files and the host's pause.
bool FileChangeMatters(std::string_view name);

class FileReactions : public QObject {
 public:
  FileReactions(FileReactionHooks hooks, QObject* parent = nullptr);

  // To call after every look, whoever made it: follows a game or folder changed in the
  // settings, and plans the next look that no file change will bring.
  void AfterLook();
  // After the first AfterLook: a file that matters changed since `since` (the settings' first
  // reading), before its folder was watched, brings a look all the same.
  void CatchUp(std::filesystem::file_time_type since);

 private:
  void Changed();
  void Settled();
  FileReactionHooks m_hooks;
  FolderWatch m_watch;
  QSocketNotifier* m_notifier = nullptr;
  QTimer m_settle;     // a second after the last change (at once for a message)
  QTimer m_lookAgain;  // a cut upload old enough to refuse
  std::optional<std::chrono::steady_clock::time_point> m_firstChange;
  std::set<std::string> m_refusedSaid;  // folders whose watch problem was logged
};

}  // namespace ventari
