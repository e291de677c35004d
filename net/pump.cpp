#include "net/pump.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <thread>

namespace ventari {

void PumpStep() {
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace ventari
