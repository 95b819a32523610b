#include "worker/profile.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "platform/root.h"
#include "platform/utc_time.h"

namespace dawnstep {
namespace {

Profile* liveProfile = nullptr;

class SystemClock : public Profile::Clock {
 public:
  timeval Now() override {
    timeval now{};
    gettimeofday(&now, nullptr);
    return now;
  }

  long UptimeSeconds() override {
    struct sysinfo info{};
    if (sysinfo(&info) != 0) return 0;
    return info.uptime;
  }
};

Profile::Clock* currentClock = nullptr;

}  // namespace

// Never destroyed: the profile writes its trailer from an exit handler that
// may run after this clock's would.
Profile::Clock& Profile::RealClock() {
  static SystemClock* clock = new SystemClock;
  return *clock;
}

void Profile::SetClock(Clock* clock) { currentClock = clock; }

Profile::Clock& Profile::CurrentClock() {
  return currentClock != nullptr ? *currentClock : RealClock();
}

std::string ProfileTimestamp(const timeval& time) {
  // Both ends of most activations fall in one second: its calendar part
  // is worked out once.
  static time_t second = -1;
  static char calendar[64];
  if (time.tv_sec != second) {
    time_t seconds = time.tv_sec;
    tm parts{};
    gmtime_r(&seconds, &parts);
    snprintf(calendar, sizeof calendar, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900,
             parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    second = time.tv_sec;
  }
  std::string stamp = calendar;
  AppendFraction(stamp, static_cast<long>(time.tv_usec), 6);
  return stamp;
}

Profile::Profile()
    : creatorPid(getpid()) {
  log.Open(RootPath("/var/log/sysboot.log"));
  int64_t uptimeMicros = static_cast<int64_t>(CurrentClock().UptimeSeconds()) * 1000000;
  startTime = CurrentClock().Now();
  WriteLine("HVKernel Initialization Time: " + std::to_string(uptimeMicros));
  liveProfile = this;
}

Profile::~Profile() {
  if (liveProfile == this) liveProfile = nullptr;
  if (getpid() != creatorPid) return;
  WriteLine("=== Dawnstep configuration info ===");
  WriteLine(" Start: " + ProfileTimestamp(startTime));
  WriteLine(" End: " + ProfileTimestamp(CurrentClock().Now()));
}

void Profile::RecordPlugin(const std::string& name, const timeval& start) {
  if (liveProfile == nullptr) return;
  timeval end = CurrentClock().Now();
  // Appended in order: prepending "[" to a temporary makes GCC 12 at -O3
  // see an overlapping copy (-Wrestrict) in the inlined insert.
  std::string line = "[";
  line += ProfileTimestamp(start);
  line += " - ";
  line += ProfileTimestamp(end);
  line += "] sysboot: ";
  line += name;
  liveProfile->WriteLine(line);
}

// One complete line per flush, appended in one write: every process appends
// to the same file, and nothing stays buffered to be written twice after a
// fork.
void Profile::WriteLine(const std::string& line) { log << line << '\n' << std::flush; }

}  // namespace dawnstep
