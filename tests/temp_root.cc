#include "tests/temp_root.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace dawnstep::testing {

namespace fs = std::filesystem;

TempRoot::TempRoot() : previous(getenv("DAWNSTEP_ROOT")) {
  std::string pattern = (fs::temp_directory_path() / "dawnstep-root-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = pattern;
  setenv("DAWNSTEP_ROOT", root.c_str(), 1);
}

// `previous` still points into the environment: setenv copies, never frees.
TempRoot::~TempRoot() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
  if (previous != nullptr) {
    setenv("DAWNSTEP_ROOT", std::string(previous).c_str(), 1);
  } else {
    unsetenv("DAWNSTEP_ROOT");
  }
}

void TempRoot::WriteFile(const std::string& fixed_path, const std::string& content) const {
  fs::create_directories(fs::path(Path(fixed_path)).parent_path());
  std::ofstream(Path(fixed_path), std::ios::binary) << content;
}

void TempRoot::WriteScript(const std::string& fixed_path, const std::string& content) const {
  WriteFile(fixed_path, content);
  fs::permissions(Path(fixed_path), fs::perms::owner_exec | fs::perms::group_exec |
                                        fs::perms::others_exec, fs::perm_options::add);
}

void TempRoot::MakeDir(const std::string& fixed_path) const { fs::create_directories(Path(fixed_path)); }

std::string TempRoot::ReadFile(const std::string& fixed_path) const {
  std::ostringstream content;
  content << std::ifstream(Path(fixed_path), std::ios::binary).rdbuf();
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
