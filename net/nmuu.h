#pragma once
// Base64 (mime) and uuencode encoding, line by line, as the Authorization line needs it.

#include <functional>
#include <string>
#include <string_view>

namespace ventari {

enum UUMethod { uuMime, uuCode };

class TNMUUProcessor {
 public:
  using TNotifyEvent = std::function<void(TNMUUProcessor& sender)>;

  UUMethod Method = uuMime;
  TNotifyEvent OnBeginEncode;
  TNotifyEvent OnEndEncode;

  // Each run of up to 45 input bytes becomes one line ended by CR LF. uuMime: Base64 with "="
  // fill. uuCode: a length character first, then the groups, and a closing zero-length line.
  std::string Encode(std::string_view input);
};

// The two encodings as plain functions.
std::string EncodeMimeLines(std::string_view input);
std::string EncodeUULines(std::string_view input);

}  // namespace ventari
