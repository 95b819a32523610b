#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <string>

#include "platform/private_file.h"

namespace dawnstep {

// The boot timing profile: how long the kernel had been up when activation
// began, how long each plugin took, and when activation started and ended.
// Worker processes inherit the profile and append their records to the file,
// each through a descriptor open only for its one write (plugin code runs in
// the workers); only the process that created the profile writes the
// trailer.
class Profile {
 public:
  Profile();
  ~Profile();
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  // Appends one activation line, ending now, to the live profile (if any).
  static void RecordPlugin(const std::string& name, const timeval& start);

  // Where the profile reads its times; tests replace it to pin the output.
  class Clock {
   public:
    virtual ~Clock() = default;
    virtual timeval Now() = 0;
    // Whole seconds since the kernel started.
    virtual long UptimeSeconds() = 0;
  };
  static Clock& RealClock();
  // Null restores the real clock.
  static void SetClock(Clock* clock);
  static Clock& CurrentClock();

 private:
  void WriteLine(const std::string& line);

  timeval startTime;
  PrivateFile log;
  pid_t creatorPid;
};

// "YYYY-MM-DD hh:mm:ss.uuuuuu" in UTC.
std::string ProfileTimestamp(const timeval& time);

}  // namespace dawnstep
