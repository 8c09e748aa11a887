// File access that differs between Windows and elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace rcnet::platform {

// Opens a regular file for reading (binary) and tells its size. Null for a missing file, a directory or
// anything that cannot be opened.
std::FILE* OpenForReading(const std::string& path, uint64_t& size);

// Replaces the file at path by contents without ever leaving it half written: the text goes to a new
// temporary file in the same directory, is flushed to disk and closed, and only then renamed over path.
// False on any failure, with the previous file untouched and no temporary file left behind. Elsewhere
// than on Windows a symbolic link's target is replaced (the link stays), an existing file keeps its
// permission bits, and a file the caller may not write is left alone (false). A writable file in a
// directory where no file may be created is rewritten in place, the only way left (not failure-proof).
bool ReplaceFileContents(const std::string& path, const std::string& contents);

}  // namespace rcnet::platform
