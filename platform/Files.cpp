#include "platform/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rcnet::platform {
namespace {

std::atomic<long long> s_FailAfter{-1};
std::atomic<unsigned> s_TempCounter{0};

// How many of `length` bytes the injected fault lets through (all of them when none is armed).
size_t AllowedBytes(size_t length, bool& fault) {
    const long long limit = s_FailAfter.exchange(-1);
    fault = limit >= 0;
    return fault && static_cast<unsigned long long>(limit) < length ? static_cast<size_t>(limit) : length;
}

// A fresh name in the directory of `path`, short whatever the length of the final name (a name near the
// file system's limit must still be writable).
std::string TempPathBeside(const std::string& path, unsigned long process) {
#ifdef _WIN32
    const size_t end = path.find_last_of("/\\:");
#else
    const size_t end = path.rfind('/');
#endif
    const std::string directory = end == std::string::npos ? std::string() : path.substr(0, end + 1);
    return directory + ".rcnet-" + std::to_string(process) + "-" +
           std::to_string(s_TempCounter.fetch_add(1)) + ".tmp";
}

}  // namespace

// A fault injected by the tests (declared in their support code, tests/support/FileFaults.h): the next
// replacement fails as a full disk would, after that many bytes.
void FailNextWriteAfter(long long bytes) {
    s_FailAfter.store(bytes);
}

#ifdef _WIN32

std::FILE* OpenForReading(const std::string& path, uint64_t& size) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;
    const long long length = _filelengthi64(_fileno(file));
    size = length > 0 ? static_cast<uint64_t>(length) : 0;
    return file;
}

bool ReplaceFileContents(const std::string& path, const std::string& contents) {
    const std::string temp = TempPathBeside(path, GetCurrentProcessId());
    HANDLE handle =
        CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool fault;
    const size_t allowed = AllowedBytes(contents.size(), fault);
    bool ok = true;
    for (size_t done = 0; ok && done < allowed;) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(allowed - done, 1u << 30));
        ok = WriteFile(handle, contents.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && !fault && FlushFileBuffers(handle);
    ok = CloseHandle(handle) && ok;
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(temp.c_str());
    return ok;
}

#else

std::FILE* OpenForReading(const std::string& path, uint64_t& size) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return nullptr;
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    size = static_cast<uint64_t>(info.st_size);
    return file;
}

// The file that opening `path` for writing would write: a symbolic link's target (also one that does not
// exist yet), else path itself.
std::string WriteTarget(const std::string& path) {
    struct stat link;
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        std::string target(resolved);
        std::free(resolved);
        return target;
    }
    std::string target(static_cast<size_t>(link.st_size > 0 ? link.st_size : 4096), '\0');
    const ssize_t length = readlink(path.c_str(), &target[0], target.size());
    if (length <= 0) return path;
    target.resize(static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    if (target[0] != '/' && slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    return target;
}

bool ReplaceFileContents(const std::string& path, const std::string& contents) {
    const std::string target = WriteTarget(path);
    // An existing file keeps its permissions, and one that may not be written is not replaced.
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && access(target.c_str(), W_OK) != 0) return false;
    const std::string temp = TempPathBeside(target, static_cast<unsigned long>(getpid()));
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    // A writable file in a directory that takes no new files can only be rewritten in place.
    const bool inPlace = fd < 0 && errno == EACCES && exists && S_ISREG(existing.st_mode);
    if (inPlace) fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = inPlace || !exists || !S_ISREG(existing.st_mode) || fchmod(fd, existing.st_mode & 07777) == 0;
    bool fault;
    const size_t allowed = AllowedBytes(contents.size(), fault);
    for (size_t done = 0; ok && done < allowed;) {
        const ssize_t written = write(fd, contents.data() + done, allowed - done);
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) done += static_cast<size_t>(written);
    }
    ok = ok && !fault && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (inPlace) return ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

#endif

}  // namespace rcnet::platform
