#pragma once

#include <string>
#include <vector>

namespace dawnstep::testing {

// A fresh directory that DAWNSTEP_ROOT points at while the object lives.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return root; }
  std::string Path(const std::string& fixed_path) const { return root + fixed_path; }
  // Writes the file, creating its directories; a script is made executable.
  void WriteFile(const std::string& fixed_path, const std::string& content) const;
  void WriteScript(const std::string& fixed_path, const std::string& content) const;
  void MakeDir(const std::string& fixed_path) const;
  std::string ReadFile(const std::string& fixed_path) const;

 private:
  std::string root;
  const char* previous;
};

// The texts of the records a node file holds, in order.
std::vector<std::string> NodeTexts(const TempRoot& root, const std::string& node_file);

}  // namespace dawnstep::testing
