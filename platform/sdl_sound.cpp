#include "platform/sdl_sound.h"

#include <SDL.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/errors.h"
#include "platform/event_log.h"
#include "platform/unique_fd.h"

namespace ventari {

namespace {

[[noreturn]] void RaiseSdlError() {
  const char* text = SDL_GetError();
  throw Exception(text && *text ? text : "Unknown error code");
}

// Standard error on /dev/null for its life: SDL's ALSA backend lets the library print its
// complaints there (eight lines on a machine without a sound card), and standard error is the
// robot's event log.
class LibraryChatterHidden {
 public:
  LibraryChatterHidden() : m_saved(::dup(STDERR_FILENO)) {
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (m_saved.valid() && null.valid()) ::dup2(null.get(), STDERR_FILENO);
  }
  ~LibraryChatterHidden() {
    if (m_saved.valid()) ::dup2(m_saved.get(), STDERR_FILENO);
  }
  LibraryChatterHidden(const LibraryChatterHidden&) = delete;
  LibraryChatterHidden& operator=(const LibraryChatterHidden&) = delete;

 private:
  UniqueFd m_saved;
};

bool IsPlainFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct WavFree {
  void operator()(Uint8* buffer) const { SDL_FreeWAV(buffer); }
};

}  // namespace

std::optional<std::string> InstalledDataFolder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return std::nullopt;
  path.resize(static_cast<std::size_t>(n));
  // <prefix>/bin/ventari -> <prefix>: the path is shown to the host, so no "/../".
  const std::size_t slash = path.rfind('/');
  const std::size_t binSlash = slash == std::string::npos ? slash : path.rfind('/', slash - 1);
  if (binSlash == std::string::npos) return std::nullopt;
  return path.substr(0, binSlash) + "/share/ventari";
}

SdlSoundPlayer::SdlSoundPlayer(std::vector<std::string> fallbackFolders)
    : m_fallbackFolders(std::move(fallbackFolders)) {}

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
  std::string path = fileName;
  if (!IsPlainFile(path) && !fileName.starts_with("/")) {
    for (const std::string& folder : m_fallbackFolders) {
      if (!IsPlainFile(folder + "/" + fileName)) continue;
      path = folder + "/" + fileName;
      break;
    }
  }
  // Without one anywhere, the error names the file as the host gave it.
  if (SDL_LoadWAV(path.c_str(), &spec, &raw, &length) == nullptr) RaiseSdlError();
  std::unique_ptr<Uint8, WavFree> samples(raw);
  // A machine without a free sound device (a server, a busy card) plays nothing: the robot's
  // work must not stop on it.
  if (!m_audioStarted) {
    // SDL would otherwise take TERM and INT for quit events of its own, which nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    int started;
    {
      const LibraryChatterHidden quiet;
      started = SDL_InitSubSystem(SDL_INIT_AUDIO);
    }
    if (started != 0) return NoDevice();
    m_audioStarted = true;
  }
  {
    const LibraryChatterHidden quiet;
    m_device = SDL_OpenAudioDevice(nullptr, 0, &spec, nullptr, 0);
  }
  if (m_device == 0) return NoDevice();
  if (SDL_QueueAudio(m_device, samples.get(), length) != 0) RaiseSdlError();
  SDL_PauseAudioDevice(m_device, 0);
}

}  // namespace ventari
