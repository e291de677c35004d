#pragma once
// The header fields of a received message read as they stand, before any lenient parser sees
// them: who sent it (only when it is said plainly), whether a machine sent it, and what the
// receiving server's authentication said. Plain functions over bytes: nothing here trusts the
// message.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace ventari {

// The top-level fields of a message, in order, names in lower case, values unfolded and
// otherwise untouched (no decoding). Reading stops at the first empty line.
std::vector<std::pair<std::string, std::string>> RawHeaderFields(std::string_view bytes);

struct PlainSender {
  std::string address;  // in lower case; empty when there is none
  std::string problem;  // why there is none
};

// The one mailbox of the From fields: exactly one From field holding one address, local part
// "@" domain, as a name and an address in brackets or the address alone. Anything else (two
// "@", a control byte, a list, a group, a route, a second From) is nobody.
PlainSender SenderOfFields(const std::vector<std::pair<std::string, std::string>>& fields);

// Why the message is a machine's (RFC 3834: Auto-Submitted other than "no", a Precedence of
// bulk, list or junk, a List-Id, an empty return path); empty when it is a person's.
std::string AutomaticReason(const std::vector<std::pair<std::string, std::string>>& fields);

// Whether the topmost Authentication-Results field of the server `authservId` says that the
// sender's domain `domain` is the true one: dmarc=pass, dkim=pass for that domain, or spf=pass
// for it. False when that server said nothing.
bool AuthenticationPasses(const std::vector<std::pair<std::string, std::string>>& fields,
                          std::string_view authservId, std::string_view domain);

}  // namespace ventari
