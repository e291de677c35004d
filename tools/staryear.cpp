// staryear: tells the year of a Stars! game file from its file header.
//
//   staryear <file.hst> [/q] [> <out>]
//
// The options may come in any order after the file name. The program is started without a
// shell, so "> out" arrives as arguments (">" and "out", or ">out") and the program writes the
// file itself: the year in decimal and CR LF. Without "> out" the year goes to standard output.
// Errors are one line on standard error with exit status 1, and no output file is made; "/q"
// silences everything else.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "stars/stars_file.h"
#include "tools/tool_files.h"

namespace {

using namespace ventari::stars;

int Fail(const std::string& message) {
  std::fprintf(stderr, "staryear: %s\n", message.c_str());
  return 1;
}

bool IsQuietSwitch(std::string_view arg) {
  return arg == "/q" || arg == "/Q" || arg == "-q" || arg == "--quiet";
}

int Run(int argc, char** argv) {
  std::optional<std::string> file;
  std::optional<std::string> out;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(
          "usage: staryear <file.hst> [/q] [> <out>]\n"
          "Prints the year of a Stars! game file (the turn in its header plus 2400).\n"
          "  > <out>  write the year into <out> instead (the robot's form: the program gets\n"
          "           \">\" and the file name as arguments, without a shell)\n"
          "  /q       say nothing but errors\n"
          "The robot runs it as <game folder>/staryear.EXE: link it there under that name.\n",
          stdout);
      return 0;
    }
    if (IsQuietSwitch(arg)) {
      quiet = true;
    } else if (arg.starts_with(">>")) {
      return Fail("appending (\">>\") is not supported");
    } else if (arg.starts_with(">")) {
      std::string target(arg.substr(1));
      if (target.empty()) {
        if (i + 1 >= argc) return Fail("missing file name after \">\"");
        target = argv[++i];
      }
      if (target.empty()) return Fail("missing file name after \">\"");
      if (out) return Fail("more than one output file");
      out = ToolPath(target);
    } else if (!file) {
      file = ToolPath(std::string(arg));
    } else {
      return Fail("unexpected argument \"" + std::string(arg) + "\"");
    }
  }
  if (!file || file->empty()) return Fail("usage: staryear <file.hst> [/q] [> <out>]");

  std::string bytes;
  std::string error;
  if (!ReadFileStart(*file, kHeaderBlockBytes, bytes, error)) return Fail(*file + ": " + error);
  FileHeader header;
  const HeaderError headerError = ParseFileHeader(bytes, header);
  if (headerError != HeaderError::kNone) return Fail(*file + ": " + HeaderErrorText(headerError));

  const std::string year = std::to_string(header.year());
  if (!out) {
    const std::string line = year + "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0)
      return Fail("cannot write to standard output");
    return 0;
  }
  if (!WriteFileAtomically(*out, year + "\r\n", error)) return Fail(*out + ": " + error);
  if (!quiet) std::printf("%s: year %s written to %s\n", file->c_str(), year.c_str(), out->c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
