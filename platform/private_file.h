#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace dawnstep {

// A file that receives records, written as a stream. No descriptor of it
// stays open between records: plugin code shares the processes that write
// it (library constructors, entry points in workers) and may write into any
// descriptor it finds, and programs it starts must not inherit one. Each
// flush appends what was written since the last one in one write, through a
// descriptor opened for that write (O_APPEND, so records of concurrent
// processes never split each other) and closed after it.
class PrivateFile : public std::ostream {
 public:
  PrivateFile() : std::ostream(nullptr) {}
  ~PrivateFile() override { Close(); }

  // Creates or empties `path` (mode 0644); the stream is failed when it
  // cannot, and every later write is dropped.
  void Open(const std::string& path);
  // Flushes what is pending and detaches from the file.
  void Close();

 private:
  class RecordBuffer : public std::streambuf {
   public:
    explicit RecordBuffer(std::string path) : path(std::move(path)) {}

   protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    // Appends the pending text as one record; -1 when that fails. A file
    // that is gone is not made again: a record could not begin it.
    int sync() override;

   private:
    const std::string path;
    std::string pending;
  };

  std::unique_ptr<RecordBuffer> buffer;
};

}  // namespace dawnstep
