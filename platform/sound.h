#pragma once
// Playing a short wave file without waiting for it.

#include <string>

namespace ventari {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Closes the previous playback, opens the file (relative to the working folder) and starts
  // it. Raises Exception with the device's message when the file cannot be opened.
  virtual void Play(const std::string& fileName) = 0;
};

}  // namespace ventari
