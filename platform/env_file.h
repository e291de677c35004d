#pragma once
// Environment files as systemd's EnvironmentFile= reads them, so that a robot started by hand
// (`ventari --env-file FILE`) has the settings the service would give it, with the same meaning:
// NAME=value lines, "#" and ";" comments, values in single quotes (taken as they are) or double
// quotes (\" \\ \` \$ escaped), a backslash before a line end joining the next line, no
// expansion of "$" (the event command's shell does that).

#include <string>
#include <string_view>
#include <vector>

namespace ventari {

struct EnvAssignment {
  std::string name;
  std::string value;
};

struct EnvFileReading {
  std::vector<EnvAssignment> assignments;  // in the file's order; a later one wins
  std::vector<std::string> ignored;        // lines that set nothing (no "=", a bad name), said
};

EnvFileReading ParseEnvironmentFile(std::string_view text);

// Reads `path` and sets its variables in this process's environment, over those inherited.
// False, with `problem` naming the file, when it cannot be read.
bool LoadEnvironmentFile(const std::string& path, std::string& problem,
                         std::vector<std::string>* ignored = nullptr);

}  // namespace ventari
