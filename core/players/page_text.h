#pragma once
// Text made safe for the players' page: JSON strings and HTML text. Every byte of a host's
// setting is escaped; a broken UTF-8 sequence becomes U+FFFD so that both files stay valid.

#include <string>

namespace ventari {

// A JSON string, quotes included; "<", ">" and "&" as \u escapes, so that it can sit in a page.
std::string JsonString(const std::string& text);
// null for an empty text.
std::string JsonStringOrNull(const std::string& text);
// Text for an HTML element or a quoted attribute.
std::string HtmlText(const std::string& text);

}  // namespace ventari
