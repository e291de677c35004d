#include "app/file_reactions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

#include "core/game/records.h"
#include "platform/event_log.h"
#include "platform/files.h"

namespace ventari {

namespace {

// Long enough for an upload's writes to end, short enough for a player to wait for.
constexpr std::chrono::milliseconds kSettleTime{1000};
// A delivered message is whole when it appears (Maildir delivery is a rename): this only gathers
// a burst of them into one look.
constexpr std::chrono::milliseconds kMessageSettleTime{20};
// A file that keeps growing is looked at after this long all the same.
constexpr std::chrono::milliseconds kLongestWait{5000};

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

}  // namespace

std::vector<std::string> MailFolders(const std::optional<std::string>& maildir) {
  if (!maildir) return {};
  std::string folder = NativePath(*maildir);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return {folder + "/new", folder + "/cur"};
}

std::vector<std::string> WatchedFolders(const ProgramRecords& records,
                                        const std::string& workingFolder,
                                        const std::optional<std::string>& maildir) {
  std::vector<std::string> folders{NativePath(workingFolder)};
  const std::string& games = records.host.repJeu;
  if (!games.empty()) {
    folders.push_back(NativePath(games));
    if (!records.game.gameName.empty())
      folders.push_back(NativePath(games + "/" + records.game.gameName));
  }
  for (const std::string& mail : MailFolders(maildir)) folders.push_back(mail);
  // Trailing slashes and the like would watch one folder twice under two names.
  for (std::string& folder : folders)
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

bool FileChangeMatters(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == "ventari.def" || lower == "ventari.pla" || lower == "nextdl.txt" ||
      lower == "curyear.txt" || lower == "ventari-pause.txt" || lower == "ventari-news.txt")
    return true;
  const std::size_t dot = lower.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  const std::string_view extension = std::string_view(lower).substr(dot + 1);
  if (extension == "hst") return true;
  return extension.size() >= 2 && extension.size() <= 3 && extension[0] == 'x' &&
         std::all_of(extension.begin() + 1, extension.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

FileReactions::FileReactions(FileReactionHooks hooks, QObject* parent)
    : QObject(parent), m_hooks(std::move(hooks)) {
  m_settle.setSingleShot(true);
  m_lookAgain.setSingleShot(true);
  connect(&m_settle, &QTimer::timeout, this, [this] { Settled(); });
  connect(&m_lookAgain, &QTimer::timeout, this, [this] { Settled(); });
  const char* watch = std::getenv("VENTARI_WATCH");
  if (watch != nullptr && std::string(watch) == "0") {
    m_watch = FolderWatch::Off();
    LogEvent("info",
             "no folder is watched (VENTARI_WATCH=0): the robot looks at the game once "
             "a minute only");
    return;
  }
  if (!m_watch.valid()) {
    LogEvent("warning", "no folder is watched (" + m_watch.error() +
                            "): the robot looks at the game once a minute only");
    return;
  }
  m_notifier = new QSocketNotifier(m_watch.fd(), QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, [this] { Changed(); });
}

void FileReactions::Changed() {
  bool message = false;
  const auto matters = [this, &message](std::string_view folder, std::string_view name) {
    if (std::find(m_hooks.mailFolders.begin(), m_hooks.mailFolders.end(), folder) !=
        m_hooks.mailFolders.end())
      return message = true;
    return FileChangeMatters(name);
  };
  if (!m_watch.Drain(matters)) return;
  const auto now = std::chrono::steady_clock::now();
  if (!m_firstChange) m_firstChange = now;
  // Each change restarts the wait, up to the longest wait since the first one. A message does
  // not wait for an upload to settle: a look at a file still being written judges it incomplete
  // and refuses nothing before it has stayed so, and the upload's next writes bring another.
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(*m_firstChange + kLongestWait - now);
  const auto settle = message ? kMessageSettleTime : kSettleTime;
  m_settle.start(std::max(std::chrono::milliseconds(0), std::min(settle, left)));
}

void FileReactions::Settled() {
  if (m_hooks.busy()) {
    // Never a look inside a running one: after it.
    m_settle.start(kSettleTime);
    return;
  }
  m_firstChange.reset();
  m_hooks.look();
  AfterLook();
}

void FileReactions::CatchUp(std::filesystem::file_time_type since) {
  // A file's time comes from the kernel's coarse clock, which may read a little behind.
  since -= std::chrono::seconds(1);
  for (const std::string& folder : m_hooks.folders()) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      if (!FileChangeMatters(entry.path().filename().string())) continue;
      std::error_code timeError;
      if (entry.last_write_time(timeError) >= since && !timeError) {
        m_settle.start(kSettleTime);
        return;
      }
    }
  }
}

void FileReactions::AfterLook() {
  if (m_watch.valid()) {
    for (const FolderWatch::Refused& refused : m_watch.WatchOnly(m_hooks.folders())) {
      if (!m_refusedSaid.insert(refused.folder).second) continue;
      LogEvent("warning", "folder not watched: " + refused.folder + ": " + refused.why +
                              "; the minute timer carries on alone there");
    }
  }
  const std::optional<std::chrono::milliseconds> again = m_hooks.lookAgainIn();
  if (again)
    m_lookAgain.start(*again);
  else
    m_lookAgain.stop();
}

}  // namespace ventari
