#pragma once

#include <string>

namespace dawnstep {

// Throws Exception ("Invalid plugin: ...") when `path` is neither a regular
// file nor a directory, or when the library at `path` is an
// ELF file whose loadable segments reach past its end. The loader maps such
// segments and then touches pages that have no file behind them, which ends
// the whole process with a bus error; a library cut short by a failed copy
// or a full disk must be a bad plugin file instead. Anything else (not ELF,
// unreadable) is left for the loader to judge.
void CheckLibraryFile(const std::string& path);

// Whether `path` begins as an ELF shared object does. Only such a file can
// be refused for what other loaded libraries lack.
bool LooksLikeSharedObject(const std::string& path);

}  // namespace dawnstep
