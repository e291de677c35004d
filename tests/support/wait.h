#pragma once
// Bounds for the waits of a test on what the code under test does. They are generous on an idle
// machine and scaled by one factor, VENTARI_TEST_TIME_SCALE, that the sanitizer build sets for
// every test (see tests/CMakeLists.txt): a slow build on a busy machine must not fail a test.

#include <chrono>
#include <functional>

namespace ventari::test {

// `idle` times the factor of this build.
std::chrono::milliseconds Patience(std::chrono::milliseconds idle = std::chrono::seconds(60));

// Polls `condition` every millisecond until it holds or `bound` has passed; whether it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = Patience());

// True once the process is gone or has ended and waits to be reaped by its (new) parent.
bool ProcessGone(int pid);

}  // namespace ventari::test
