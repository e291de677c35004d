#include "core/game/mail_link.h"

#include <cstdlib>

#include "core/game/settings.h"

namespace ventari {

std::string MailLink::Address(const GameSettings& game) const {
  if (!leagueSite.empty())
    return leagueSite + game.webFolder + "/travail/ventari.php?jeu=" + game.gameName;
  return publicUrl;
}

std::string MailLink::Paragraph(const GameSettings& game) const {
  const std::string address = Address(game);
  return address.empty() ? std::string() : "Consultez " + address + "\n\r\n\r";
}

MailLink MailLinkFromEnvironment(bool deadlinesFromLeague) {
  const char* site = std::getenv("VENTARI_LEAGUE_SITE");
  if (site && *site) return MailLink(site);
  MailLink link;
  const char* url = std::getenv("VENTARI_PUBLIC_URL");
  if (url && *url) {
    link.publicUrl = url;
    return link;
  }
  if (deadlinesFromLeague) link.leagueSite = kExampleLeagueSite;
  return link;
}

}  // namespace ventari
