#pragma once
// File helpers shared by the stand-in programs. Errors come back as a text for the one-line
// message the programs print.

#include <cstddef>
#include <string>

namespace ventari::stars {

// The path with every "\" read as "/", as everywhere in this system (kept as it is on Windows).
std::string ToolPath(std::string path);

bool PathExists(const std::string& path);

// Reads at most `maxBytes` from the start of the file.
bool ReadFileStart(const std::string& path, std::size_t maxBytes, std::string& bytes,
                   std::string& error);

// Writes beside the target and renames over it, so no reader ever sees a torn or partial file
// and a failure leaves no file behind.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const std::string& path);

}  // namespace ventari::stars
