#pragma once
// The order files of a game judged as the game reads them (the whole block chain, the generation
// counter), each one again only when the file changed: its device, inode, size and modification
// time, and the host file it is judged against.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stars/stars_file.h"

namespace ventari {

// One version of a file: what changes whenever its content may have, and the hash of the
// bytes judged (a copy of the same bytes is another version with the same contents).
struct FileVersion {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNs = 0;  // modification time, ns since the epoch
  std::string contentsHash;     // SHA-256 of the bytes judged, in hex; empty: none read
  bool operator==(const FileVersion&) const = default;
};

// SHA-256 of the bytes, in lower-case hex.
std::string ContentsHash(std::string_view bytes);

class OrderFileJudge {
 public:
  // Row `row` (1 to 12) of the game whose host file has `host`.
  stars::OrderJudgement Judge(const std::string& path, const stars::FileHeader& host, int row);
  // The version of row `row`'s file that its last judgement was made on (looked at before the
  // file was read: a change while reading makes a newer version); nothing when there was none.
  std::optional<FileVersion> JudgedVersion(int row) const;

 private:
  struct Seen {
    bool valid = false;
    std::string path;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    std::string contentsHash;
    std::uint32_t gameId = 0;
    std::uint16_t turn = 0;
    std::uint8_t hostFlags = 0;
    stars::OrderJudgement judgement;
  };
  std::array<Seen, 13> m_seen{};
  std::array<std::optional<FileVersion>, 13> m_judged{};
};

// The reason a file does not count, in the players' French: "incomplet (envoi en cours ou
// coupé)", "fait sur un ancien fichier .M : le jeu le refuserait", ...
std::string OrderVerdictFrench(stars::OrderVerdict verdict);

// Why a file does not count, as the players read it: with the file's own header when it could be
// read, the year it was made for or the player it is of; otherwise OrderVerdictFrench.
std::string RefusalReason(stars::OrderVerdict verdict,
                          const std::optional<stars::FileHeader>& header);

}  // namespace ventari
