#pragma once
// The order files of a game judged as the game reads them (the whole block chain, the generation
// counter), each one again only when the file changed: its device, inode, size and modification
// time, and the host file it is judged against.

#include <array>
#include <cstdint>
#include <string>

#include "stars/stars_file.h"

namespace ventari {

class OrderFileJudge {
 public:
  // Row `row` (1 to 12) of the game whose host file has `host`.
  stars::OrderJudgement Judge(const std::string& path, const stars::FileHeader& host, int row);

 private:
  struct Seen {
    bool valid = false;
    std::string path;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modifiedNs = 0;
    std::uint32_t gameId = 0;
    std::uint16_t turn = 0;
    std::uint8_t hostFlags = 0;
    stars::OrderJudgement judgement;
  };
  std::array<Seen, 13> m_seen{};
};

// The reason a file does not count, in the players' French: "incomplet (envoi en cours ou
// coupé)", "fait sur un ancien fichier .M : le jeu le refuserait", ...
std::string OrderVerdictFrench(stars::OrderVerdict verdict);

}  // namespace ventari
