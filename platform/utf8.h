#pragma once
// UTF-8 as the settings files and the status page read it.

#include <cstddef>
#include <string>

namespace ventari {

// Length of the valid UTF-8 sequence at `at`, 0 when there is none (overlong forms, surrogates
// and values beyond U+10FFFF included).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at);

}  // namespace ventari
