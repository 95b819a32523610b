#pragma once

#include <string>
#include <vector>

#include "platform/host_log.h"

namespace dawnstep::testing {

struct LogRecord {
  int level;  // kLogWarning for Warning records
  std::string text;  // as formatted, final line feed included

  bool operator==(const LogRecord&) const = default;
};

// Captures every Log_Level/Warning record this process writes while it
// lives (they still reach their outputs); forked children keep theirs.
class LogCapture final : public LogObserver {
 public:
  LogCapture() { AddLogObserver(this); }
  ~LogCapture() override { RemoveLogObserver(this); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void Record(int level, const std::string& text) override { captured.push_back({level, text}); }

  const std::vector<LogRecord>& records() const { return captured; }
  int Count(int level, const std::string& text) const {
    int count = 0;
    for (const LogRecord& record : captured) count += record == LogRecord{level, text};
    return count;
  }
  bool Has(int level, const std::string& text) const { return Count(level, text) > 0; }
  // The texts at `level`, in order.
  std::vector<std::string> Texts(int level) const {
    std::vector<std::string> texts;
    for (const LogRecord& record : captured) {
      if (record.level == level) texts.push_back(record.text);
    }
    return texts;
  }

 private:
  std::vector<LogRecord> captured;
};

}  // namespace dawnstep::testing
