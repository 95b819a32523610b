#pragma once

#include <string>
#include <vector>

namespace dawnstep::testing {

// A fresh directory that DAWNSTEP_ROOT points at for the life of the
// object; removed again afterwards.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return root; }
  // Absolute path of a fixed path under this root.
  std::string Path(const std::string& fixed_path) const { return root + fixed_path; }
  // Writes `content` to the fixed path, creating parent directories.
  void WriteFile(const std::string& fixed_path, const std::string& content) const;
  // WriteFile, then makes the file executable (a handler or helper script).
  void WriteScript(const std::string& fixed_path, const std::string& content) const;
  void MakeDir(const std::string& fixed_path) const;
  std::string ReadFile(const std::string& fixed_path) const;

 private:
  std::string root;
  std::string previous;
  bool hadPrevious;
};

// The texts of the records a node file holds, in order.
std::vector<std::string> NodeTexts(const TempRoot& root, const std::string& node_file);

}  // namespace dawnstep::testing
