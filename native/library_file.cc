#include "native/library_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "plugin/exception.h"

namespace dawnstep {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd(fd) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  const int fd;
};

bool ReadAt(int fd, void* into, size_t size, off_t offset) {
  return pread(fd, into, size, offset) == static_cast<ssize_t>(size);
}

// Whether any loadable segment claims file bytes beyond `fileSize`.
bool SegmentsOutrunFile(int fd, const Elf64_Ehdr& header, uint64_t fileSize) {
  if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0) return false;
  std::vector<Elf64_Phdr> segments(header.e_phnum);
  if (!ReadAt(fd, segments.data(), segments.size() * sizeof(Elf64_Phdr),
              static_cast<off_t>(header.e_phoff))) {
    return false;  // the loader reports an unreadable header table itself
  }
  for (const Elf64_Phdr& segment : segments) {
    if (segment.p_type != PT_LOAD) continue;
    if (segment.p_offset > fileSize || segment.p_filesz > fileSize - segment.p_offset) {
      return true;
    }
  }
  return false;
}

}  // namespace

void CheckLibraryFile(const std::string& path) {
  // Non-blocking: a FIFO given by name must not stall the check.
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat status {};
  if (file.fd < 0 || fstat(file.fd, &status) != 0) return;
  // The loader would block on a FIFO or a device for good. A directory
  // keeps the loader's own report.
  if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
    throw Exception("Invalid plugin: %s: not a regular file", path.c_str());
  }
  if (!S_ISREG(status.st_mode)) return;
  Elf64_Ehdr header{};
  if (!ReadAt(file.fd, &header, sizeof header, 0)) return;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    return;
  }
  if (SegmentsOutrunFile(file.fd, header, static_cast<uint64_t>(status.st_size))) {
    throw Exception("Invalid plugin: %s: file is shorter than its loadable segments",
                    path.c_str());
  }
}

bool LooksLikeSharedObject(const std::string& path) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  Elf64_Ehdr header{};
  return file.fd >= 0 && ReadAt(file.fd, &header, sizeof header, 0) &&
         std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_type == ET_DYN;
}

}  // namespace dawnstep
