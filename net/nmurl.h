#pragma once
// The URL decoder used by Post: "+" is a blank, "%" and two hex digits a byte.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ventari {

// The decoded text, or std::nullopt with `error` set when an escape is incomplete or not
// hexadecimal.
std::optional<std::string> UrlDecode(std::string_view input, std::string* error = nullptr);

class TNMURL {
 public:
  using TErrorEvent =
      std::function<void(TNMURL& sender, const std::string& what, const std::string& message)>;

  std::string InputString;
  TErrorEvent OnError;

  // The decoded InputString; on a bad escape OnError("Error during decode", message) is raised
  // and the input comes back unchanged.
  std::string Decode();
};

}  // namespace ventari
