#pragma once
// The real boxes, on Qt's message boxes. Each runs its own event loop, as a modal box does.

#include "platform/dialogs.h"

namespace ventari {

class QtDialogs final : public Dialogs {
 public:
  void ShowMessage(const std::string& text) override;
  void ShowError(const std::string& message) override;
  void ShowMailError(int result) override;
};

}  // namespace ventari
