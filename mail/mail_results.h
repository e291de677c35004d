#pragma once
// The result numbers of a send, numbered as the old mail interface did: callers never see them,
// the mail error box shows them.

namespace ventari {

inline constexpr int kMailSuccess = 0;
// No mail system: the sendmail program (or the compose tool) is missing or cannot be run.
inline constexpr int kMailNoMailSystem = 1;
// The mail program could not be started, failed, was killed or did not take the message.
inline constexpr int kMailFailure = 2;
inline constexpr int kMailAttachmentNotFound = 11;
inline constexpr int kMailAttachmentOpenFailure = 12;

}  // namespace ventari
