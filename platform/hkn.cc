#include "platform/hkn.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/file_system.h"
#include "platform/process_id.h"
#include "platform/root.h"
#include "platform/utc_time.h"
#include "platform/whole_io.h"

struct HKN_ParamList {
  std::string input;
};

const uint16_t HKN_NODE_system_log = 0x101;
const uint16_t HKN_NODE_system_sysAlert = 0x102;
const uint16_t HKN_NODE_system_progressTerm_progressText = 0x201;
const uint16_t HKN_NODE_system_progressTerm_statusText = 0x202;

namespace dawnstep {
namespace {

const char kNodeDir[] = "/run/hkn";

// A node record is one system call on the host, with no descriptor behind
// it. Plugin code shares the processes that send records (library
// constructors here, entry points in workers) and may write into any
// descriptor it finds, so no descriptor of a node file stays open between
// records: each is opened for its record's one write and closed after.
int OpenNodeFile(const std::string& file) {
  auto openFile = [&file] {
    return open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  };
  int opened = openFile();
  if (opened >= 0 || errno != ENOENT) return opened;
  // A fresh root has no /run either.
  MakeDirectories(RootPath(kNodeDir));
  return openFile();
}

// Printable ASCII other than a quote or a backslash: JSON as it stands.
bool NeedsNoEscaping(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= ' ' && c <= '~' && c != '"' && c != '\\'; });
}

// One JSON object per line: time, pid, text. Only the text can need
// escaping, so only it goes through the JSON writer, and only when it
// does; every record is on an activation's path.
std::string NodeRecord(const std::string& text) {
  std::string line;
  line.reserve(text.size() + 80);  // the rest of a plain record, with room
  line.append("{\"time\":\"").append(UtcIsoTimestamp(6)).append("\",\"pid\":");
  line.append(std::to_string(ProcessId())).append(",\"text\":");
  if (NeedsNoEscaping(text)) {
    line.append("\"").append(text) += '"';
  } else {
    line += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  line += "}\n";
  return line;
}

class FileHkn : public HknInterface {
 public:
  int32_t CheckSig(uint32_t*, int32_t, uint32_t*) override { return 0; }

  HKN_ParamList* ParamListCreate(uint32_t, uint32_t) override { return new HKN_ParamList; }

  int32_t ParamListAddString(HKN_ParamList* list, const char* text) override {
    list->input = text;
    return 0;
  }

  int32_t Set(uint32_t node, void*, HKN_ParamList* list, void*, uint32_t) override {
    const char* file = HknNodeFile(node);
    if (*file == '\0' || list == nullptr) return -1;
    int fd = OpenNodeFile(RootPath(file));
    if (fd < 0) return -1;
    std::string line = NodeRecord(list->input);
    bool whole = WriteOnce(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    return whole ? 0 : -1;
  }

  void ParamListDestroy(HKN_ParamList* list) override { delete list; }
};

HknInterface* current = nullptr;

HknInterface& Current() { return current != nullptr ? *current : RealHkn(); }

}  // namespace

HknInterface& RealHkn() {
  static FileHkn real;
  return real;
}

void SetHknInterface(HknInterface* hkn) { current = hkn; }

const char* HknNodeFile(uint32_t node) {
  if (node == HKN_NODE_system_log) return "/run/hkn/system.log";
  if (node == HKN_NODE_system_sysAlert) return "/run/hkn/system.sysAlert";
  if (node == HKN_NODE_system_progressTerm_progressText)
    return "/run/hkn/system.progressTerm.progressText";
  if (node == HKN_NODE_system_progressTerm_statusText)
    return "/run/hkn/system.progressTerm.statusText";
  return "";
}

}  // namespace dawnstep

int32_t HKN_CheckSig(uint32_t* ours, int32_t expected, uint32_t* theirs) {
  return dawnstep::Current().CheckSig(ours, expected, theirs);
}

HKN_ParamList* HKN_ParamListCreate(uint32_t outputs, uint32_t inputs) {
  return dawnstep::Current().ParamListCreate(outputs, inputs);
}

int32_t HKN_ParamListAddString(HKN_ParamList* list, const char* text) {
  return dawnstep::Current().ParamListAddString(list, text);
}

int32_t HKN_Set(uint32_t node, void* reserved, HKN_ParamList* list, void* output, uint32_t flags) {
  return dawnstep::Current().Set(node, reserved, list, output, flags);
}

void HKN_ParamListDestroy(HKN_ParamList* list) { dawnstep::Current().ParamListDestroy(list); }
