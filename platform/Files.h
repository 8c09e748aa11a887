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
// temporary file in the same directory (created exclusively, under a random name), is flushed to disk and
// closed, and only then renamed over path. False on any failure, always with a report line and the reason
// kept for GetLastFileError, the previous file untouched and no temporary file left behind.
// Only a regular file is replaced, or a new one made: a device, FIFO, socket or directory is refused.
// Elsewhere than on Windows symbolic links are followed to the regular file they lead to (the links
// stay); one link to a missing name creates that file; a loop, or a chain of links ending at a missing
// name, is refused. An existing file keeps its owner, group and permission bits, and a file the caller
// may not write is left alone. Where the new file cannot be given the old one's owner (another user's
// file, saved by someone other than root), or no file may be created in the directory, the file is
// rewritten in place, as writing to it would: it stays its owner's, but that is not failure-proof.
bool ReplaceFileContents(const std::string& path, const std::string& contents);

// The text files' line ends.
#ifdef _WIN32
inline constexpr char kLineEnd[] = "\r\n";
#else
inline constexpr char kLineEnd[] = "\n";
#endif

// Puts value, read by std::from_chars from the text [p, end), right where the runtime's conversion rounds
// it to a neighbour of the nearest double; elsewhere it is already right.
#ifdef _WIN32
void CorrectlyRounded(const char* p, const char* end, double& value);
#else
inline void CorrectlyRounded(const char*, const char*, double&) {}
#endif

}  // namespace rcnet::platform
