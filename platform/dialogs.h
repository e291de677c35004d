#pragma once
// The boxes a person sees. The window layer supplies the real ones; tests script them.

#include <string>

namespace ventari {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Plain message box: the text, one "OK", caption "Ventari"; returns after OK.
  virtual void ShowMessage(const std::string& text) = 0;
  // The application's error box: ErrorBoxText(message), caption "Ventari", stop icon, "OK".
  virtual void ShowError(const std::string& message) = 0;
  // The mail error box: caption "Error", error icon, the result in decimal, "OK", centred.
  virtual void ShowMailError(int result) = 0;
};

}  // namespace ventari
