// starsgen: a stand-in for the Stars! game executable, so that a turn can be generated where the
// real game is not installed.
//
//   starsgen -g <game>.hst [--players N]          generate the next turn
//   starsgen --new <game>.hst --players N         create a game at turn 0
//   starsgen --orders <game>.hst --player N [--saved] [--text T]
//                                                 player N submits (or only saves) his orders
//   starsgen --orders <game>.m<n> [--saved] [--text T]
//                                                 the same from the player's own turn file
//
// Every file is a real block chain: the header block, a data block, the footer block (no data in
// an order file, two bytes in the host and turn files). Generating adds one to the host file's
// turn and to its generation counter (the rest of the file is kept), writes a turn file
// <game>.m<n> for every player n with that counter and then deletes the order files <game>.x<n>
// it used, as the game does: an order file of another game, turn, player or generation, or one
// cut short, is not used and stays. Order files carry the host file's counter.
// The players are 1 to N with --players, otherwise those with an order file or a turn file.
// The turn and order files sit beside the host file. Exit status 0 on success; otherwise a
// one-line message on standard error, and no order file is deleted.
//
// With STARSGEN_HANG set in the environment, -g writes the turn files and then hangs for good
// before the host file, as a game stuck in the middle of a turn: for tests of the time limit.
// STARSGEN_CUT=N writes player N's turn file cut short (no footer), as a full disk would;
// STARSGEN_GAME_OVER marks the new turn's host file "game over".

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "stars/stars_file.h"
#include "tools/tool_files.h"

namespace {

using namespace ventari::stars;

constexpr int kMaxPlayers = 16;

struct Options {
  bool generate = false;
  bool create = false;
  bool orders = false;
  std::string hostFile;
  std::optional<int> players;
  std::optional<int> player;
  bool saved = false;
  std::string text = "orders";  // the orders' data: another text is another set of orders
};

// Any bytes stand for the game's encrypted data.
constexpr int kDataBlockType = 6;

std::string GameFileBytes(const FileHeader& header, std::string_view data, bool cut = false) {
  std::string bytes = EncodeFileHeader(header) + EncodeBlock(kDataBlockType, data);
  if (!cut) bytes += EncodeFooter(header.fileType);
  return bytes;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "starsgen: %s\n", message.c_str());
  return 1;
}

// The same forms in --help and in every usage error.
constexpr const char* kUsage =
    "usage: starsgen --new <game>.hst --players N\n"
    "       starsgen --orders <game>.hst --player N [--saved] [--text T]\n"
    "       starsgen --orders <game>.m<n> [--saved] [--text T]\n"
    "       starsgen -g <game>.hst [--players N]\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "starsgen: %s\n%s", message.c_str(), kUsage);
  return 2;
}

constexpr const char* kHelp =
    "A stand-in for the Stars! game executable, run in the per-game folder.\n"
    "  --new        create a game of N players (1 to 16): <game>.hst at turn 0 (year 2400)\n"
    "               and each player's turn file <game>.m<n>\n"
    "  --orders     write player N's order file <game>.x<n> for the current turn, as his\n"
    "               game does when he submits his orders; --saved: only saved, not submitted;\n"
    "               from his turn file <game>.m<n>, as a player does at home, the order file\n"
    "               is written beside it; --text T: other orders (the data block holds T)\n"
    "  -g           generate the next turn: the host file one turn further, a new turn file\n"
    "               for each player, the order files used deleted\n"
    "Environment: STARSGEN_CUT=<n> writes player n's turn file cut short,\n"
    "STARSGEN_GAME_OVER=1 a host file that says the game is over.\n";

// "--players=3" -> "--players"; an argument without "=" is its own name.
std::string_view OptionName(std::string_view arg) { return arg.substr(0, arg.find('=')); }

std::optional<int> ParsePlayers(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxPlayers)
    return std::nullopt;
  return value;
}

// The host file path without its ".hst" (any case): the stem of every game file.
std::optional<std::string> GameStem(const std::string& hostFile) {
  constexpr std::string_view kExtension = ".hst";
  if (hostFile.size() <= kExtension.size()) return std::nullopt;
  const std::string stem = hostFile.substr(0, hostFile.size() - kExtension.size());
  std::string extension = hostFile.substr(stem.size());
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension != kExtension || stem.back() == '/') return std::nullopt;
  return stem;
}

std::string TurnFile(const std::string& stem, int player) {
  return stem + ".m" + std::to_string(player);
}

std::string OrderFile(const std::string& stem, int player) {
  return stem + ".x" + std::to_string(player);
}

// A small, stable game id made from the game's name.
std::uint32_t GameIdFor(std::string_view name) {
  std::uint32_t hash = 2166136261u;
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

bool WriteTurnFiles(const std::string& stem, const FileHeader& hostHeader,
                    const std::vector<int>& players, std::string& error) {
  const char* cut = std::getenv("STARSGEN_CUT");
  for (const int n : players) {
    FileHeader turnHeader = hostHeader;
    turnHeader.fileType = kTurnFile;
    turnHeader.flags = hostHeader.flags & ~kSubmittedFlag;
    turnHeader.setPlayerIndex(n - 1);
    const bool cutShort = cut != nullptr && std::to_string(n) == cut;
    if (!WriteFileAtomically(TurnFile(stem, n),
                             GameFileBytes(turnHeader, "turn " + std::to_string(n), cutShort),
                             error)) {
      error = TurnFile(stem, n) + ": " + error;
      return false;
    }
  }
  return true;
}

std::vector<int> PlayerList(const Options& options, const std::string& stem) {
  std::vector<int> players;
  for (int n = 1; n <= kMaxPlayers; ++n) {
    const bool plays = options.players
                           ? n <= *options.players
                           : PathExists(OrderFile(stem, n)) || PathExists(TurnFile(stem, n));
    if (plays) players.push_back(n);
  }
  return players;
}

int Create(const Options& options, const std::string& stem) {
  if (!options.players) return Usage("--new needs --players N");
  if (PathExists(options.hostFile)) return Fail(options.hostFile + ": already exists");
  FileHeader header;
  const std::size_t slash = stem.rfind('/');
  header.gameId = GameIdFor(slash == std::string::npos ? stem : stem.substr(slash + 1));
  header.fileType = kHostFile;
  header.setPlayerIndex(kHostPlayerIndex);
  std::string error;
  if (!WriteTurnFiles(stem, header, PlayerList(options, stem), error)) return Fail(error);
  if (!WriteFileAtomically(options.hostFile, GameFileBytes(header, "universe"), error))
    return Fail(options.hostFile + ": " + error);
  return 0;
}

// The host file's bytes and header; false after the message.
bool ReadHost(const std::string& hostFile, std::string& bytes, FileHeader& header, int& status) {
  std::string error;
  if (!ReadFileStart(hostFile, std::numeric_limits<std::size_t>::max(), bytes, error)) {
    status = Fail(hostFile + ": " + error);
    return false;
  }
  const HeaderError headerError = ParseFileHeader(bytes, header);
  if (headerError != HeaderError::kNone) {
    status = Fail(hostFile + ": " + HeaderErrorText(headerError));
    return false;
  }
  if (header.fileType != kHostFile) {
    status = Fail(hostFile + ": not a host file");
    return false;
  }
  return true;
}

// Player n's order file for the game state in `header` (a host file's, or his turn file's).
int WriteOrders(const Options& options, const std::string& stem, FileHeader orders, int player) {
  const int generation = orders.generation();
  orders.fileType = kOrderFile;
  orders.flags = options.saved ? 0 : kSubmittedFlag;
  orders.setGeneration(generation);
  orders.setPlayerIndex(player - 1);
  std::string error;
  const std::string path = OrderFile(stem, player);
  if (!WriteFileAtomically(path, GameFileBytes(orders, options.text), error))
    return Fail(path + ": " + error);
  return 0;
}

int SubmitOrders(const Options& options, const std::string& stem) {
  if (!options.player) return Usage("--orders needs --player N");
  std::string bytes;
  FileHeader header;
  int status = 0;
  if (!ReadHost(options.hostFile, bytes, header, status)) return status;
  return WriteOrders(options, stem, header, *options.player);
}

// <stem>.m<n> (any case): the player's turn file; nothing for another name.
std::optional<std::pair<std::string, int>> TurnFileName(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot == 0 || path[dot - 1] == '/' ||
      path.find('/', dot) != std::string::npos)
    return std::nullopt;
  const std::string_view extension = std::string_view(path).substr(dot + 1);
  if (extension.size() < 2 || std::tolower(static_cast<unsigned char>(extension[0])) != 'm')
    return std::nullopt;
  const std::optional<int> player = ParsePlayers(extension.substr(1));
  if (!player) return std::nullopt;
  return std::make_pair(path.substr(0, dot), *player);
}

int SubmitOrdersFromTurnFile(const Options& options, const std::string& stem, int player) {
  if (options.player && *options.player != player)
    return Usage("--player " + std::to_string(*options.player) + " is not the player of " +
                 options.hostFile);
  std::string bytes;
  std::string error;
  if (!ReadFileStart(options.hostFile, kHeaderBlockBytes, bytes, error))
    return Fail(options.hostFile + ": " + error);
  FileHeader header;
  const HeaderError headerError = ParseFileHeader(bytes, header);
  if (headerError != HeaderError::kNone)
    return Fail(options.hostFile + ": " + HeaderErrorText(headerError));
  if (header.fileType != kTurnFile || header.playerIndex() != player - 1)
    return Fail(options.hostFile + ": not player " + std::to_string(player) + "'s turn file");
  return WriteOrders(options, stem, header, player);
}

int Generate(const Options& options, const std::string& stem) {
  std::string bytes;
  std::string error;
  FileHeader header;
  int status = 0;
  if (!ReadHost(options.hostFile, bytes, header, status)) return status;
  const FileHeader before = header;
  if (header.turn == std::numeric_limits<std::uint16_t>::max())
    return Fail(options.hostFile + ": the turn cannot go further");
  ++header.turn;
  header.setGeneration(header.generation() + 1);
  if (std::getenv("STARSGEN_GAME_OVER") != nullptr) header.flags |= kGameOverFlag;

  const std::vector<int> players = PlayerList(options, stem);
  if (!WriteTurnFiles(stem, header, players, error)) return Fail(error);
  if (std::getenv("STARSGEN_HANG") != nullptr) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  const std::string newHost = EncodeFileHeader(header) + bytes.substr(kHeaderBlockBytes);
  if (!WriteFileAtomically(options.hostFile, newHost, error))
    return Fail(options.hostFile + ": " + error);
  // Orders go only once everything is written, so a failed run loses none.
  for (const int n : players) {
    const std::string order = OrderFile(stem, n);
    if (JudgeOrderFile(order, before, n).verdict == OrderVerdict::kIn && !RemoveFile(order))
      return Fail(order + ": cannot be deleted");
  }
  return 0;
}

int Run(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "-g" || arg == "-G" || arg == "/g" || arg == "/G") {
      options.generate = true;
    } else if (arg == "--new") {
      options.create = true;
    } else if (arg == "--orders") {
      options.orders = true;
    } else if (arg == "--saved") {
      options.saved = true;
    } else if (OptionName(arg) == "--text") {
      if (arg == "--text") {
        if (i + 1 >= argc) return Usage("--text needs the orders' text");
        options.text = argv[++i];
      } else {
        options.text = std::string(arg.substr(7));
      }
    } else if (const std::string_view name = OptionName(arg);
               name == "--players" || name == "--player") {
      std::string_view value;
      if (name == arg) {
        if (i + 1 >= argc) return Usage(std::string(name) + " needs a number");
        value = argv[++i];
      } else {
        value = arg.substr(name.size() + 1);
      }
      std::optional<int>& target = name == "--players" ? options.players : options.player;
      target = ParsePlayers(value);
      if (!target) return Usage(std::string(name) + " takes a number from 1 to 16");
    } else if (options.hostFile.empty() && !arg.empty() && !arg.starts_with("-")) {
      options.hostFile = ToolPath(std::string(arg));
    } else {
      return Usage("unexpected argument \"" + std::string(arg) + "\"");
    }
  }
  if (options.generate + options.create + options.orders != 1)
    return Usage("give one of -g, --new and --orders");
  if (options.hostFile.empty()) return Usage("no host file given");
  if (options.orders) {
    if (const auto turnFile = TurnFileName(options.hostFile))
      return SubmitOrdersFromTurnFile(options, turnFile->first, turnFile->second);
  }
  const std::optional<std::string> stem = GameStem(options.hostFile);
  if (!stem)
    return Usage(options.orders ? "the file's name must end in .hst or .m<n>"
                                : "the host file's name must end in .hst");
  if (options.create) return Create(options, *stem);
  if (options.orders) return SubmitOrders(options, *stem);
  return Generate(options, *stem);
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
