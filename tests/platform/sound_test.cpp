// The ready sound on SDL: a missing file is an error, a missing sound device is not.

#include "platform/sdl_sound.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/errors.h"
#include "tests/support/temp_dir.h"

namespace ventari {
namespace {

TEST(SdlSoundPlayer, NoDeviceMeansNoSoundAndNoError) {
  const std::string wav = test::BinDir() + "/pret.wav";
  {
    SdlSoundPlayer player;  // the silent driver of the test environment
    EXPECT_NO_THROW(player.Play(wav));
    EXPECT_THROW(player.Play(test::BinDir() + "/no-such.wav"), Exception);
  }
  ::setenv("SDL_AUDIODRIVER", "ventari-no-such-driver", 1);
  {
    SdlSoundPlayer player;
    EXPECT_NO_THROW(player.Play(wav));
    EXPECT_NO_THROW(player.Play(wav));
    // The file is still judged: a missing one is the host's to mend.
    EXPECT_THROW(player.Play(test::BinDir() + "/no-such.wav"), Exception);
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
}

}  // namespace
}  // namespace ventari
