#pragma once
// The ready sound on SDL2 audio: load the wave file, open an output device, queue the sound and
// start it without waiting. The device stays open until the next play. Without a sound device
// nothing is played, and that is said once on standard error; the sound library's own
// diagnostics (ALSA's, on a machine without sound) never reach it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sound.h"

namespace ventari {

class SdlSoundPlayer final : public SoundPlayer {
 public:
  // A file missing from the working folder is looked for in `fallbackFolders`, in order (the
  // sound the package installed).
  explicit SdlSoundPlayer(std::vector<std::string> fallbackFolders = {});
  ~SdlSoundPlayer() override;
  SdlSoundPlayer(const SdlSoundPlayer&) = delete;
  SdlSoundPlayer& operator=(const SdlSoundPlayer&) = delete;

  void Play(const std::string& fileName) override;

 private:
  void Close();
  void NoDevice();

  bool m_audioStarted = false;
  std::uint32_t m_device = 0;
  bool m_noDeviceSaid = false;
  std::vector<std::string> m_fallbackFolders;
};

// Where the package puts its data, seen from the running program: <prefix>/share/ventari for a
// program in <prefix>/bin. Nothing when the program's own path cannot be read.
std::optional<std::string> InstalledDataFolder();

}  // namespace ventari
