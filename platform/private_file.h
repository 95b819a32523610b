#pragma once

#include <ext/stdio_filebuf.h>

#include <memory>
#include <ostream>
#include <string>

namespace dawnstep {

// A file written as a stream whose descriptor is closed on exec (an
// std::ofstream's is not): programs that plugin code starts must not
// inherit the program's own records.
class PrivateFile : public std::ostream {
 public:
  PrivateFile() : std::ostream(nullptr) {}
  ~PrivateFile() override { Close(); }

  // Creates or empties `path`; the stream is failed when it cannot.
  void Open(const std::string& path);
  void Close();

 private:
  std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> buffer;
};

}  // namespace dawnstep
