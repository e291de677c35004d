#include "tests/support/wait.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace ventari::test {

std::chrono::milliseconds Patience(std::chrono::milliseconds idle) {
  static const double factor = [] {
    const char* text = std::getenv("VENTARI_TEST_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    try {
      const double value = std::stod(text);
      return value >= 1.0 ? value : 1.0;
    } catch (const std::exception&) {
      return 1.0;
    }
  }();
  return std::chrono::milliseconds(
      static_cast<long long>(static_cast<double>(idle.count()) * factor));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto limit = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // polling a condition
  }
  return true;
}

bool ProcessGone(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || text.compare(close, 3, ") Z") == 0;
}

}  // namespace ventari::test
