#include "platform/sdl_sound.h"

#include <SDL.h>

#include <cstdio>
#include <memory>

#include "platform/errors.h"
#include "platform/event_log.h"

namespace ventari {

namespace {

[[noreturn]] void RaiseSdlError() {
  const char* text = SDL_GetError();
  throw Exception(text && *text ? text : "Unknown error code");
}

struct WavFree {
  void operator()(Uint8* buffer) const { SDL_FreeWAV(buffer); }
};

}  // namespace

SdlSoundPlayer::~SdlSoundPlayer() {
  Close();
  if (m_audioStarted) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SdlSoundPlayer::NoDevice() {
  if (m_noDeviceSaid) return;
  m_noDeviceSaid = true;
  const char* text = SDL_GetError();
  LogEvent("warning", std::string("no sound device (") + (text && *text ? text : "unknown error") +
                          "): the ready sound is not played");
}

void SdlSoundPlayer::Close() {
  if (m_device != 0) SDL_CloseAudioDevice(m_device);
  m_device = 0;
}

void SdlSoundPlayer::Play(const std::string& fileName) {
  Close();  // stops a sound that is still playing
  SDL_ClearError();
  // The file first: a missing or damaged sound is the host's to mend, and says so.
  SDL_AudioSpec spec{};
  Uint8* raw = nullptr;
  Uint32 length = 0;
  if (SDL_LoadWAV(fileName.c_str(), &spec, &raw, &length) == nullptr) RaiseSdlError();
  std::unique_ptr<Uint8, WavFree> samples(raw);
  // A machine without a free sound device (a server, a busy card) plays nothing: the robot's
  // work must not stop on it.
  if (!m_audioStarted) {
    // SDL would otherwise take TERM and INT for quit events of its own, which nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return NoDevice();
    m_audioStarted = true;
  }
  m_device = SDL_OpenAudioDevice(nullptr, 0, &spec, nullptr, 0);
  if (m_device == 0) return NoDevice();
  if (SDL_QueueAudio(m_device, samples.get(), length) != 0) RaiseSdlError();
  SDL_PauseAudioDevice(m_device, 0);
}

}  // namespace ventari
