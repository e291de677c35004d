#include "core/players/order_file_judge.h"

#include <sys/stat.h>

#include <QByteArrayView>
#include <QCryptographicHash>

namespace ventari {

std::string ContentsHash(std::string_view bytes) {
  return QCryptographicHash::hash(
             QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
             QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

stars::OrderJudgement OrderFileJudge::Judge(const std::string& path, const stars::FileHeader& host,
                                            int row) {
  struct stat st {};
  const bool rowKnown = row >= 1 && row < static_cast<int>(m_seen.size());
  if (rowKnown) m_judged[static_cast<std::size_t>(row)].reset();
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !rowKnown)
    return stars::JudgeOrderFile(path, host, row);
  Seen& seen = m_seen[static_cast<std::size_t>(row)];
  const std::int64_t modifiedNs =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (seen.valid && seen.path == path && seen.device == st.st_dev && seen.inode == st.st_ino &&
      seen.size == static_cast<std::uint64_t>(st.st_size) && seen.modifiedNs == modifiedNs &&
      seen.gameId == host.gameId && seen.turn == host.turn && seen.hostFlags == host.flags) {
    m_judged[static_cast<std::size_t>(row)] =
        FileVersion{seen.device, seen.inode, seen.size, seen.modifiedNs, seen.contentsHash};
    return seen.judgement;
  }
  std::string bytes;
  const stars::OrderJudgement judgement = stars::JudgeOrderFile(path, host, row, &bytes);
  seen = Seen{true,
              path,
              st.st_dev,
              st.st_ino,
              static_cast<std::uint64_t>(st.st_size),
              modifiedNs,
              ContentsHash(bytes),
              host.gameId,
              host.turn,
              host.flags,
              judgement};
  m_judged[static_cast<std::size_t>(row)] =
      FileVersion{seen.device, seen.inode, seen.size, seen.modifiedNs, seen.contentsHash};
  return judgement;
}

std::optional<FileVersion> OrderFileJudge::JudgedVersion(int row) const {
  if (row < 1 || row >= static_cast<int>(m_judged.size())) return std::nullopt;
  return m_judged[static_cast<std::size_t>(row)];
}

std::string OrderVerdictFrench(stars::OrderVerdict verdict) {
  switch (verdict) {
    case stars::OrderVerdict::kIn:
      return "reçu";
    case stars::OrderVerdict::kMissing:
      return "absent";
    case stars::OrderVerdict::kNotOrderFile:
      return "ce n'est pas un fichier d'ordres";
    case stars::OrderVerdict::kOtherGame:
      return "fichier d'une autre partie";
    case stars::OrderVerdict::kOtherTurn:
      return "fichier d'une autre année";
    case stars::OrderVerdict::kOtherPlayer:
      return "fichier d'un autre joueur";
    case stars::OrderVerdict::kIncomplete:
      return "fichier incomplet (envoi en cours ou coupé)";
    case stars::OrderVerdict::kOtherGeneration:
      return "fait sur un ancien fichier .M : le jeu le refuserait";
  }
  return "ce n'est pas un fichier d'ordres";
}

std::string RefusalReason(stars::OrderVerdict verdict,
                          const std::optional<stars::FileHeader>& header) {
  if (verdict == stars::OrderVerdict::kOtherTurn && header)
    return "fait pour l'année " + std::to_string(header->year());
  if (verdict == stars::OrderVerdict::kOtherPlayer && header)
    return "c'est le fichier du joueur " + std::to_string(header->playerIndex() + 1);
  return OrderVerdictFrench(verdict);
}

}  // namespace ventari
