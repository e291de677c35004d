#include "tests/mail/mail_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string_view>

#include "tests/support/temp_dir.h"

namespace ventari::test {

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace

std::string MailTestFile(const std::string& name) {
  return std::string(VENTARI_MAIL_TEST_DIR) + "/" + name;
}

std::map<std::string, std::string> ParseMail(const std::string& messageBytes) {
  TempDir dir;
  WriteFile(dir.file("message.eml"), messageBytes);
  const std::string command = "/usr/bin/python3 '" + MailTestFile("parse_mail.py") + "' '" +
                              dir.file("message.eml") + "' > '" + dir.file("parsed") + "'";
  const int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << "the mail reader failed on:\n" << messageBytes;

  std::map<std::string, std::string> fields;
  std::istringstream lines(ReadFile(dir.file("parsed")));
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos)
      fields[line.substr(0, equals)] = FromHex(line.substr(equals + 1));
  }
  return fields;
}

std::string AwkwardBytes() {
  using namespace std::literals;
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += "\r\n.\r\nFrom me\n.\n\0\r"sv;
  for (int i = 255; i >= 0; --i) bytes += static_cast<char>(i);
  return bytes;
}

}  // namespace ventari::test
