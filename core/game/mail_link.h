#pragma once
// The link line of the players' mails: the league site's page of the game, or, for a game
// without a league site, the public address of its status page; no line at all when the host
// gave neither.

#include <string>
#include <utility>

namespace ventari {

struct GameSettings;

// Between two paragraphs of a mail: line feed, carriage return, twice (bytes 0A 0D 0A 0D), as
// the players' mail programs have always received it.
inline constexpr char kParagraph[] = "\n\r\n\r";

struct MailLink {
  MailLink() = default;
  // A league site, ending in "/".
  MailLink(std::string site) : leagueSite(std::move(site)) {}  // NOLINT: a site is a link
  MailLink(const char* site) : leagueSite(site) {}             // NOLINT

  std::string leagueSite;  // empty: none
  std::string publicUrl;   // used when there is no league site; empty: none

  // The address the mails link to for `game`; empty: no link.
  std::string Address(const GameSettings& game) const;
  // "Consultez <address>" and the paragraph break after it; empty without an address.
  std::string Paragraph(const GameSettings& game) const;
};

// The league site example the program ships with: it links nowhere.
inline constexpr char kExampleLeagueSite[] = "http://www.stars-ligue.example/";

// VENTARI_LEAGUE_SITE when set; else VENTARI_PUBLIC_URL; else, for a game whose deadlines come
// from the league's page, the example site as always; else no link.
MailLink MailLinkFromEnvironment(bool deadlinesFromLeague);

}  // namespace ventari
