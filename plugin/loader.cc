#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <random>

#include "log/kernel_log.h"
#include "platform/file_system.h"
#include "platform/root.h"
#include "plugin/plugin.h"

namespace dawnstep {
namespace {

const char* const kPluginDirs[] = {"/usr/libexec/dawnstep/plugins",
                                   "/usr/libexec/dawnstep/plugins2"};

// Some file systems leave the type out of their listings; links are not
// followed either way.
bool IsRegularFile(DIR* listing, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_REG;
  struct stat status {};
  return fstatat(dirfd(listing), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(status.st_mode);
}

void ListDirectory(const std::string& dir, std::vector<std::string>& paths) {
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = readdir(listing)) {
    if (entry->d_name[0] != '.' && IsRegularFile(listing, *entry)) {
      paths.push_back(dir + "/" + entry->d_name);
    }
  }
  closedir(listing);
}

std::string FindInPluginDirs(const std::string& name) {
  for (const std::string& dir : Plugin::PluginDirectories()) {
    std::string path = dir + "/" + name;
    if (PathExists(path)) return path;
  }
  throw Exception("Cannot find plugin '%s'", name.c_str());
}

std::vector<std::string> PluginPaths(const std::unordered_set<std::string>& plugins) {
  std::vector<std::string> paths;
  if (plugins.empty()) {
    for (const std::string& dir : Plugin::PluginDirectories()) ListDirectory(dir, paths);
  } else {
    for (const std::string& name : plugins) {
      paths.push_back(name.starts_with('/') ? name : FindInPluginDirs(name));
    }
  }
  return paths;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

void Plugin::LoadPlugins(const std::unordered_set<std::string>& plugins, uint32_t seed) {
  if (plugins.empty()) LoadBuiltins();
  std::vector<std::string> paths;
  try {
    paths = PluginPaths(plugins);
  } catch (const std::exception& e) {
    std::cerr << "Failed to list plugins: " << e.what() << std::endl;
    KernelLog() << "exception occurred whilst listing plugins: " << e.what() << std::endl;
    return;
  }
  std::sort(paths.begin(), paths.end());
  if (seed != 0) {
    KernelLog() << "Dawnstep is randomizing iteration order using seed: " << seed << std::endl;
    std::minstd_rand engine(seed);
    std::shuffle(paths.begin(), paths.end(), engine);
  }
  registry().pluginFiles = paths;
  ProbeNativePlugins(paths);
  for (const std::string& path : paths) {
    try {
      LoadPlugin(path);
    } catch (const std::exception& e) {
      std::cerr << "Skipping " << path << ": " << e.what() << std::endl;
      KernelLog() << "exception occurred whilst loading plugin " << path << ": " << e.what()
                  << std::endl;
    }
  }
  ProbeNativePlugins({});
}

std::vector<std::string> Plugin::InstalledPluginFiles() {
  std::vector<std::string> paths = PluginPaths({});
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::vector<std::string> Plugin::PluginDirectories() {
  std::vector<std::string> dirs;
  for (const char* dir : kPluginDirs) dirs.push_back(RootPath(dir));
  return dirs;
}

void Plugin::LoadPlugin(const std::string& path) {
  if (path.size() > 2 && EndsWith(path, ".so")) {
    LoadNativePlugin(path);
  } else if (path.size() > 4 && EndsWith(path, ".json")) {
    LoadJsonPlugin(path);
  } else {
    throw Exception("unknown type");
  }
}

}  // namespace dawnstep
