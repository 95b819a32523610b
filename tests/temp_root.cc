#include "tests/temp_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace dawnstep::testing {

namespace fs = std::filesystem;

TempRoot::TempRoot() {
  std::string pattern = (fs::temp_directory_path() / "dawnstep-root-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  root = made;
  const char* old = getenv("DAWNSTEP_ROOT");
  hadPrevious = old != nullptr;
  if (hadPrevious) previous = old;
  setenv("DAWNSTEP_ROOT", root.c_str(), 1);
}

TempRoot::~TempRoot() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
  if (hadPrevious) {
    setenv("DAWNSTEP_ROOT", previous.c_str(), 1);
  } else {
    unsetenv("DAWNSTEP_ROOT");
  }
}

void TempRoot::WriteFile(const std::string& fixed_path, const std::string& content) const {
  fs::path full = Path(fixed_path);
  fs::create_directories(full.parent_path());
  std::ofstream(full, std::ios::binary) << content;
}

void TempRoot::WriteScript(const std::string& fixed_path, const std::string& content) const {
  WriteFile(fixed_path, content);
  fs::permissions(Path(fixed_path), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
}

void TempRoot::MakeDir(const std::string& fixed_path) const {
  fs::create_directories(Path(fixed_path));
}

std::string TempRoot::ReadFile(const std::string& fixed_path) const {
  std::ifstream in(Path(fixed_path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> NodeTexts(const TempRoot& root, const std::string& node_file) {
  std::vector<std::string> texts;
  std::istringstream lines(root.ReadFile(node_file));
  for (std::string line; std::getline(lines, line);) {
    texts.push_back(nlohmann::json::parse(line).at("text").get<std::string>());
  }
  return texts;
}

}  // namespace dawnstep::testing
