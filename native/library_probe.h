#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace dawnstep {

// Loads native plugin libraries first in a forked probe process. Loading
// runs library code (constructors, destructors of a rejected library, the
// dynamic loader's reading of a possibly damaged file), and whatever kills
// the probe then names the library it was loading instead of ending the
// boot. The probe works through its list ahead of the caller, which waits
// only for the verdict it asks for; after a death the probe restarts with
// the next library.
class LibraryProbe {
 public:
  // `load` loads one library the way the main process will (and unloads
  // it again), and throws to reject it.
  using Load = std::function<void(const std::string& path)>;

  LibraryProbe(std::vector<std::string> paths, Load load);
  ~LibraryProbe();
  LibraryProbe(const LibraryProbe&) = delete;
  LibraryProbe& operator=(const LibraryProbe&) = delete;

  // Whether `path` is on the list and not yet judged.
  bool Expects(const std::string& path) const;
  // Returns when `path` loaded cleanly in the probe; throws Exception with
  // the rejection or the probe's death otherwise. Paths are judged in list
  // order; those skipped over are dropped.
  void Judge(const std::string& path);

 private:
  void Start();
  [[noreturn]] void Serve(int answers);
  void Stop();
  std::string Death();

  std::vector<std::string> paths;
  Load load;
  size_t next = 0;  // the first path without a verdict
  pid_t pid = -1;
  int answers = -1;
};

}  // namespace dawnstep
