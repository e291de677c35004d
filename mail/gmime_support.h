#pragma once
// What the mail code shares around GMime: its one-time start and owners for its objects.

#include <gmime/gmime.h>

#include <memory>

namespace ventari {

inline void EnsureGMimeReady() {
  static const bool ready = [] {
    g_mime_init();
    return true;
  }();
  (void)ready;
}

struct GObjectUnref {
  void operator()(void* object) const {
    if (object != nullptr) g_object_unref(object);
  }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};

}  // namespace ventari
