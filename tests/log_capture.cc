#include "tests/log_capture.h"

namespace dawnstep::testing {

int LogCapture::Count(int level, const std::string& text) const {
  int count = 0;
  for (const LogRecord& record : captured) {
    if (record.level == level && record.text == text) ++count;
  }
  return count;
}

std::vector<std::string> LogCapture::Texts(int level) const {
  std::vector<std::string> texts;
  for (const LogRecord& record : captured) {
    if (record.level == level) texts.push_back(record.text);
  }
  return texts;
}

}  // namespace dawnstep::testing
