#pragma once
// The request to end: remembered at once, carried out when control is back in the event loop.

#include "platform/app_control.h"

namespace ventari {

class QtAppControl final : public AppControl {
 public:
  void RequestEnd() override;
  bool EndRequested() const override { return m_ended; }

 private:
  bool m_ended = false;
};

}  // namespace ventari
