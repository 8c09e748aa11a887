#include "platform/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

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

}  // namespace

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
    const std::string temp = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(s_TempCounter.fetch_add(1));
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

bool ReplaceFileContents(const std::string& path, const std::string& contents) {
    const std::string temp =
        path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(s_TempCounter.fetch_add(1));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool fault;
    const size_t allowed = AllowedBytes(contents.size(), fault);
    bool ok = true;
    for (size_t done = 0; ok && done < allowed;) {
        const ssize_t written = write(fd, contents.data() + done, allowed - done);
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) done += static_cast<size_t>(written);
    }
    ok = ok && !fault && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

#endif

}  // namespace rcnet::platform
