#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dawnstep {

// Loads native plugin libraries first in a forked probe process. Loading
// runs library code (constructors, destructors of a rejected library, the
// dynamic loader's reading of a possibly damaged file), and whatever kills
// the probe then names the library it was loading instead of ending the
// boot. The probe works through its list ahead of the caller, which waits
// only for the verdict it asks for; after a death, or an answer that cannot
// be read (library code that wrote into the probe's pipe), the probe
// restarts with the next library.
class LibraryProbe {
 public:
  // What became of one library: `refusal` is 0 when it loaded cleanly, else
  // kFailed (the probe's own failures) or a code of the caller's, with text.
  struct Verdict {
    uint32_t refusal = 0;
    std::string text;
  };
  static constexpr uint32_t kFailed = 1;

  // `load` loads one library the way the main process will (and unloads
  // it again), and tells what became of it.
  using Load = std::function<Verdict(const std::string& path)>;

  LibraryProbe(std::vector<std::string> paths, Load load);
  ~LibraryProbe();
  LibraryProbe(const LibraryProbe&) = delete;
  LibraryProbe& operator=(const LibraryProbe&) = delete;

  // Whether `path` is on the list and not yet judged.
  bool Expects(const std::string& path) const;
  // The verdict on `path`; the probe's death while loading it, or a probe
  // that cannot be started, is a kFailed one. Paths are judged in list
  // order; those skipped over are dropped.
  Verdict Judge(const std::string& path);

 private:
  void Start();
  [[noreturn]] void Serve(int answers);
  void Stop();
  bool Take(void* into, size_t size);
  // The reason for a probe that ended while loading a library.
  std::string Death();
  // The reason for a library on which the probe's answer cannot be read;
  // stops the probe.
  std::string Garbled(const std::string& path);
  // Closes the answer pipe and reaps the probe, which has ended or will.
  void Forget(int* status);

  std::vector<std::string> paths;
  Load load;
  size_t next = 0;  // the first path without a verdict
  pid_t pid = -1;
  int answers = -1;
  std::string received;  // answers read but not yet taken, from `taken` on
  size_t taken = 0;
};

}  // namespace dawnstep
