#pragma once

#include <string>
#include <vector>

#include "platform/host_log.h"

namespace dawnstep::testing {

struct LogRecord {
  int level;
  std::string text;  // exactly as formatted, final line feed included

  bool operator==(const LogRecord&) const = default;
};

// Captures every Log_Level/Warning record this process writes while the
// object lives, whatever the outputs and thresholds (the records still go
// to the outputs as usual). Records written in forked children stay in the
// child. Warning records have level kLogWarning.
//
//   LogCapture log;
//   RunTheCode();
//   EXPECT_TRUE(log.Has(2, "Failed to initialize logging.\n"));
class LogCapture final : public LogObserver {
 public:
  LogCapture() { AddLogObserver(this); }
  ~LogCapture() override { RemoveLogObserver(this); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void Record(int level, const std::string& text) override { captured.push_back({level, text}); }

  const std::vector<LogRecord>& records() const { return captured; }
  // How many records at `level` have exactly `text`.
  int Count(int level, const std::string& text) const;
  bool Has(int level, const std::string& text) const { return Count(level, text) > 0; }
  // The texts at `level`, in order.
  std::vector<std::string> Texts(int level) const;

 private:
  std::vector<LogRecord> captured;
};

}  // namespace dawnstep::testing
