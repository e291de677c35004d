// The ready sound on SDL: a missing file is an error, a missing sound device is not.

#include "platform/sdl_sound.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/errors.h"
#include "tests/support/captured_stderr.h"
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

TEST(SdlSoundPlayer, TheSoundLibrarysOwnDiagnosticsStayOutOfTheLog) {
  // On a machine without a sound card, ALSA prints a screenful when a device is opened.
  ::setenv("SDL_AUDIODRIVER", "alsa", 1);
  std::string said;
  {
    test::CapturedStderr log;
    SdlSoundPlayer player;
    EXPECT_NO_THROW(player.Play(test::BinDir() + "/pret.wav"));
    said = log.TakeLines();
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  // Every line is one of the robot's own events ("warning no sound device ...").
  std::istringstream lines(said);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.starts_with("warning ") || line.starts_with("info ")) << said;
}

TEST(SdlSoundPlayer, AWorkingFolderWithoutTheSoundPlaysTheInstalledOne) {
  test::TempDir working;
  test::TempDir installed;
  test::ScopedCurrentDir inWorking(working.path());
  ASSERT_TRUE(std::filesystem::copy_file(test::BinDir() + "/pret.wav", installed.file("pret.wav")));
  SdlSoundPlayer bare;
  EXPECT_THROW(bare.Play("pret.wav"), Exception);
  SdlSoundPlayer player({working.file("nowhere"), installed.path()});
  EXPECT_NO_THROW(player.Play("pret.wav"));
  // The working folder's own sound comes first: a damaged one is the host's and says so.
  test::WriteFile(working.file("pret.wav"), "not a wave file");
  EXPECT_THROW(player.Play("pret.wav"), Exception);
  EXPECT_THROW(player.Play("other.wav"), Exception);
  // A program in <prefix>/bin finds <prefix>/share/ventari.
  const std::optional<std::string> data = InstalledDataFolder();
  ASSERT_TRUE(data);
  const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string prefix = std::filesystem::path(program).parent_path().parent_path().string();
  EXPECT_EQ(*data, prefix + "/share/ventari");
}

}  // namespace
}  // namespace ventari
