#include "platform/config_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/file_system.h"
#include "platform/root.h"
#include "platform/whole_io.h"

namespace dawnstep {
namespace {

const char kStoreLog[] = "/var/lib/corvane/configstore.log";

void AppendLine(const std::string& line) {
  std::string path = RootPath(kStoreLog);
  // Failures show up when the file is opened.
  MakeDirectories(path.substr(0, path.rfind('/')));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error(path + ": " + strerror(errno));
  std::string record = line + "\n";
  ssize_t written = WriteOnce(fd, record.data(), record.size());
  int error = written < 0 ? errno : ENOSPC;
  bool complete = written == static_cast<ssize_t>(record.size());
  if (close(fd) != 0 && complete) {
    error = errno;
    complete = false;
  }
  if (!complete) throw std::runtime_error(path + ": " + strerror(error));
}

class FileConfigStore : public ConfigStore {
 public:
  void EndAutoConf() override { AppendLine("EndAutoConf"); }
  void CleanupBootState() override { AppendLine("CleanupBootState"); }
  void EnableMgmtdNotification(bool enable) override {
    AppendLine(std::string("EnableMgmtdNotification ") + (enable ? "true" : "false"));
  }
};

ConfigStore* current = nullptr;

ConfigStore& CurrentStore() { return current != nullptr ? *current : RealConfigStore(); }

}  // namespace

ConfigStore& RealConfigStore() {
  static FileConfigStore store;
  return store;
}

void SetConfigStore(ConfigStore* store) { current = store; }

}  // namespace dawnstep

namespace OrvoConfigStore {

void EndAutoConf() { dawnstep::CurrentStore().EndAutoConf(); }

void CleanupBootState() { dawnstep::CurrentStore().CleanupBootState(); }

void EnableMgmtdNotification(bool enable) {
  dawnstep::CurrentStore().EnableMgmtdNotification(enable);
}

}  // namespace OrvoConfigStore
