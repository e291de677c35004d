#pragma once
// Reading mail messages back for the mail tests, with Python's email package.

#include <map>
#include <string>

namespace ventari::test {

// The fields printed by parse_mail.py for the message bytes; fails the test when the reader
// cannot run. Keys: to_count, to_name, to_address, from_name and from_address (when there is a
// From), auto_submitted, subject, headers (lower-case, sorted,
// comma-separated), content_type, defects, body_charset, body ("\n" line ends, without the
// line break that ends a message), attachment_count,
// attachment_name, attachment_type, attachment_encoding, attachment_bytes.
std::map<std::string, std::string> ParseMail(const std::string& messageBytes);

// The path of a file of tests/mail in the source tree.
std::string MailTestFile(const std::string& name);

// Every byte value, and the sequences a careless transport would mangle (CR LF, a lone dot line,
// a "From " line, NUL).
std::string AwkwardBytes();

}  // namespace ventari::test
