#pragma once
// A prepared game folder in a real temporary folder: the host settings file, the Stars!
// executable, the game settings file and, on request, the two caches.

#include <string>
#include <vector>

#include "core/game/monitor_view.h"
#include "tests/support/temp_dir.h"

namespace ventari::test {

struct PlayerLine {
  std::string name;
  std::string address;
};

class GameFolder {
 public:
  GameFolder();

  // Writes ventari.def (folders under the temporary root) and the executable file.
  void WriteHostSettings(const std::string& executableName = "stars.exe");
  // Writes ventari.pla in the game folder.
  void WriteGameSettings(const std::vector<PlayerLine>& players, bool autoGenerate = true,
                         int hours = 48);
  void WriteDeadlineCache(const std::string& firstLine);
  void WriteYearCache(const std::string& firstLine);
  // Everything a look at the game reads: both settings files and both caches.
  void WriteGame(const std::vector<PlayerLine>& players, const std::string& deadline,
                 const std::string& year);

  const std::string& root() const { return m_dir.path(); }
  std::string binDir() const { return root() + "/bin"; }
  std::string pubDir() const { return root() + "/pub"; }
  std::string gameRoot() const { return root() + "/jeux"; }
  std::string gameDir() const { return gameRoot() + "/" + game; }
  std::string pubGameDir() const { return pubDir() + "/" + game; }
  std::string pubStatusDir() const { return pubGameDir() + "/status"; }

  std::string game = "alpha";
  std::string webFolder = "ligue";
  std::string hostAddress = "host@example.org";

 private:
  TempDir m_dir;
};

// Records what the core writes into the window.
class RecordingView : public MonitorView {
 public:
  void SetLine(WindowLine line, const std::string& text) override;
  void SetColour(WindowColour colour) override { colours.push_back(colour); }
  int TimerIntervalMs() const override { return 60000; }

  std::string line(WindowLine which) const;
  std::vector<std::pair<WindowLine, std::string>> lines;
  std::vector<WindowColour> colours;
};

}  // namespace ventari::test
