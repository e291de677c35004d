#include "platform/long_wait.h"

#include <mutex>
#include <utility>

namespace ventari {

namespace {

// One user-interface thread waits at a time; the stop's thread reads it.
std::mutex g_mutex;
std::string g_current;

}  // namespace

LongWait::LongWait(std::string what) {
  std::lock_guard lock(g_mutex);
  g_current = std::move(what);
}

LongWait::~LongWait() {
  std::lock_guard lock(g_mutex);
  g_current.clear();
}

std::string CurrentLongWait() {
  std::lock_guard lock(g_mutex);
  return g_current;
}

}  // namespace ventari
