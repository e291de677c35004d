#pragma once
// The event loop's timer as the core's ticker.

#include <QTimer>

#include <memory>

#include "platform/ticker.h"

namespace ventari {

class QtTicker final : public Ticker {
 public:
  QtTicker(std::chrono::milliseconds interval, std::function<void()> tick) {
    m_timer.setInterval(interval);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(tick));
  }
  void Start() override { m_timer.start(); }
  void Stop() override { m_timer.stop(); }

  static std::unique_ptr<Ticker> Make(std::chrono::milliseconds interval,
                                      std::function<void()> tick) {
    return std::make_unique<QtTicker>(interval, std::move(tick));
  }

 private:
  QTimer m_timer;
};

}  // namespace ventari
