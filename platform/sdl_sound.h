#pragma once
// The ready sound on SDL2 audio: load the wave file, open an output device, queue the sound and
// start it without waiting. The device stays open until the next play. Without a sound device
// nothing is played, and that is said once on standard error.

#include <cstdint>

#include "platform/sound.h"

namespace ventari {

class SdlSoundPlayer final : public SoundPlayer {
 public:
  SdlSoundPlayer() = default;
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
};

}  // namespace ventari
