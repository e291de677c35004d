#include "platform/env_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ventari {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool ValidName(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (const char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

// One pass over the text, as a small state machine: quotes and escapes may span line ends.
class EnvParser {
 public:
  EnvFileReading Parse(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) Step(text[i]);
    Step('\n');  // a last line without its line end
    return std::move(m_reading);
  }

 private:
  enum class State {
    kPreKey,
    kKey,
    kPreValue,
    kValue,
    kValueEscape,
    kSingle,
    kDouble,
    kDoubleEscape,
    kComment,
    kCommentEscape
  };

  void Step(char c) {
    switch (m_state) {
      case State::kPreKey:
        if (c == '#' || c == ';') {
          m_state = State::kComment;
        } else if (c != '\n' && !IsBlank(c)) {
          m_key.assign(1, c);
          m_state = State::kKey;
        }
        break;
      case State::kKey:
        if (c == '=') {
          while (!m_key.empty() && IsBlank(m_key.back())) m_key.pop_back();
          m_value.clear();
          m_kept = 0;
          m_state = State::kPreValue;
        } else if (c == '\n') {
          m_reading.ignored.push_back(m_key);
          m_state = State::kPreKey;
        } else {
          m_key += c;
        }
        break;
      case State::kPreValue:
        if (c == '\'') {
          m_state = State::kSingle;
        } else if (c == '"') {
          m_state = State::kDouble;
        } else if (c == '\\') {
          m_state = State::kValueEscape;
        } else if (c == '\n') {
          Assign();
        } else if (!IsBlank(c)) {
          Keep(c);
          m_state = State::kValue;
        }
        break;
      case State::kValue:
        if (c == '\n') {
          Assign();
        } else if (c == '\\') {
          m_state = State::kValueEscape;
        } else {
          m_value += c;
          if (!IsBlank(c)) m_kept = m_value.size();
        }
        break;
      case State::kValueEscape:
        if (c != '\n') Keep(c);  // a backslash before a line end joins the next line
        m_state = State::kValue;
        break;
      case State::kSingle:
        if (c == '\'')
          m_state = State::kPreValue;
        else
          Keep(c);
        break;
      case State::kDouble:
        if (c == '"')
          m_state = State::kPreValue;
        else if (c == '\\')
          m_state = State::kDoubleEscape;
        else
          Keep(c);
        break;
      case State::kDoubleEscape:
        if (c == '"' || c == '\\' || c == '`' || c == '$') {
          Keep(c);
        } else if (c != '\n') {
          Keep('\\');
          Keep(c);
        }
        m_state = State::kDouble;
        break;
      case State::kComment:
        if (c == '\\')
          m_state = State::kCommentEscape;
        else if (c == '\n')
          m_state = State::kPreKey;
        break;
      case State::kCommentEscape:
        m_state = State::kComment;
        break;
    }
  }

  // A character that trailing blanks never take away.
  void Keep(char c) {
    m_value += c;
    m_kept = m_value.size();
  }

  void Assign() {
    m_value.resize(m_kept);
    if (ValidName(m_key))
      m_reading.assignments.push_back({m_key, m_value});
    else
      m_reading.ignored.push_back(m_key + "=");
    m_state = State::kPreKey;
  }

  State m_state = State::kPreKey;
  std::string m_key;
  std::string m_value;
  std::size_t m_kept = 0;
  EnvFileReading m_reading;
};

}  // namespace

EnvFileReading ParseEnvironmentFile(std::string_view text) { return EnvParser().Parse(text); }

bool LoadEnvironmentFile(const std::string& path, std::string& problem,
                         std::vector<std::string>* ignored) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    problem = "cannot read the environment file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    problem = "cannot read the environment file " + path;
    return false;
  }
  const EnvFileReading reading = ParseEnvironmentFile(text.str());
  for (const EnvAssignment& assignment : reading.assignments)
    ::setenv(assignment.name.c_str(), assignment.value.c_str(), 1);
  if (ignored) *ignored = reading.ignored;
  return true;
}

}  // namespace ventari
