#include "platform/private_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/whole_io.h"

namespace dawnstep {

void PrivateFile::Open(const std::string& path) {
  Close();
  clear();
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    setstate(std::ios::failbit);
    return;
  }
  close(fd);
  buffer = std::make_unique<RecordBuffer>(path);
  rdbuf(buffer.get());
}

void PrivateFile::Close() {
  if (buffer == nullptr) return;
  flush();
  rdbuf(nullptr);
  buffer.reset();
}

int PrivateFile::RecordBuffer::overflow(int c) {
  if (c != traits_type::eof()) pending += traits_type::to_char_type(c);
  return traits_type::not_eof(c);
}

std::streamsize PrivateFile::RecordBuffer::xsputn(const char* text, std::streamsize count) {
  pending.append(text, static_cast<size_t>(count));
  return count;
}

int PrivateFile::RecordBuffer::sync() {
  if (pending.empty()) return 0;
  std::string record;
  record.swap(pending);
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return -1;
  bool whole = WriteOnce(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
  close(fd);
  return whole ? 0 : -1;
}

}  // namespace dawnstep
