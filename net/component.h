#pragma once
// The small component base shared by the socket layer's classes: it knows when it is being
// destroyed, so that no status or disconnect event reaches a half-destroyed owner.

#include <functional>

namespace ventari {

class TComponent {
 public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent() = default;

  bool Destroying() const { return m_destroying; }

 protected:
  // Called first thing by the destructor of every class that fires events while tearing down.
  void BeginDestroy() { m_destroying = true; }

 private:
  bool m_destroying = false;
};

// A plain notification: the component that raised it.
using TNotifyEvent = std::function<void(TComponent& sender)>;

}  // namespace ventari
