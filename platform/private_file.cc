#include "platform/private_file.h"

#include <fcntl.h>

namespace dawnstep {

void PrivateFile::Open(const std::string& path) {
  Close();
  clear();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    setstate(std::ios::failbit);
    return;
  }
  buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, std::ios::out);
  rdbuf(buffer.get());
}

void PrivateFile::Close() {
  if (buffer == nullptr) return;
  flush();
  rdbuf(nullptr);
  buffer.reset();  // closes the descriptor
}

}  // namespace dawnstep
