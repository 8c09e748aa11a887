#include "platform/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "src/Report.h"

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
constexpr char kReportSource[] = "Files";

std::atomic<long long> s_FailAfter{-1};

// How many of `length` bytes the injected fault lets through (all of them when none is armed).
size_t AllowedBytes(size_t length, bool& fault) {
    const long long limit = s_FailAfter.exchange(-1);
    fault = limit >= 0;
    return fault && static_cast<unsigned long long>(limit) < length ? static_cast<size_t>(limit) : length;
}

// Every failed save leaves one report line (what did not hold) and the reason for GetLastFileError.
bool SaveFailed(const char* what, int line, const std::string& path, const std::string& why) {
    ReportFailure(what, kReportSource, line, RCNET_REPORT_FILE_ACCESS);
    KeepFileError((path + ": cannot be saved: " + why).c_str(), RCNET_REPORT_FILE_ACCESS);
    return false;
}

#ifndef _WIN32
std::string SystemError(int error) {
    return std::strerror(error);
}
#endif

// 16 hex digits no other save is likely to pick: a crashed save's leftover, another process or thread
// that has the same pid or counter. Creation is exclusive anyway; this only keeps retries rare.
std::string RandomPart() {
    static std::atomic<uint64_t> s_Counter{0};
    uint64_t x = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    x ^= s_Counter.fetch_add(0x9e3779b97f4a7c15ull) ^ reinterpret_cast<uintptr_t>(&x);
#ifdef _WIN32
    x ^= (static_cast<uint64_t>(GetCurrentProcessId()) << 40) ^
         (static_cast<uint64_t>(GetCurrentThreadId()) << 20);
#else
    x ^= static_cast<uint64_t>(getpid()) << 40;
#endif
    try {
        std::random_device device;
        x ^= (uint64_t{device()} << 32) ^ device();
    } catch (...) {  // no system source: the clock, counter and ids above still differ between saves
    }
    // splitmix64's finaliser: every input bit moves about half the output bits.
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    x ^= x >> 31;
    static const char kHex[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 0; i < 16; ++i) text[i] = kHex[(x >> (4 * i)) & 15];
    return text;
}

// A new name in the directory of `path`, short whatever the length of the final name (a name near the
// file system's limit must still be writable).
std::string TempPathBeside(const std::string& path) {
#ifdef _WIN32
    const size_t end = path.find_last_of("/\\:");
#else
    const size_t end = path.rfind('/');
#endif
    const std::string directory = end == std::string::npos ? std::string() : path.substr(0, end + 1);
    std::string name = ".rcnet-" + RandomPart() + ".tmp";
#ifdef _WIN32
    // The ANSI calls take paths of at most MAX_PATH - 1 characters, counted in full: near that limit a
    // name as short as the room left (the final name fits, so some room is left).
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    const size_t fullDirectory =
        length > 0 && length < MAX_PATH ? length - (path.size() - directory.size()) : directory.size();
    if (fullDirectory + name.size() > MAX_PATH - 1) {
        const size_t room = MAX_PATH - 1 > fullDirectory ? MAX_PATH - 1 - fullDirectory : 1;
        name = "~" + RandomPart().substr(0, std::max<size_t>(1, std::min<size_t>(15, room - 1)));
    }
#endif
    return directory + name;
}

// Names tried before a save gives up on finding a free one.
constexpr int kTempAttempts = 64;

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

// What the path names now: nothing, a regular file (also through a link: the link is replaced), or
// something a save must leave alone. False after the failure was reported.
bool CheckWindowsTarget(const std::string& path, bool& exists, DWORD& kept) {
    exists = false;
    kept = 0;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        // A missing directory shows when the temporary file cannot be made there.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    }
    // Devices (NUL, COM1, CON) and pipes report odd attributes or none: ask the handle what it is.
    HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return SaveFailed("path usable", __LINE__, path,
                              "the path cannot be used (error " + std::to_string(GetLastError()) + ")");
    } else {
        const DWORD type = GetFileType(handle);
        CloseHandle(handle);
        if (type != FILE_TYPE_DISK)
            return SaveFailed("path names a regular file", __LINE__, path, "it names a device or a pipe");
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return SaveFailed("path names a regular file", __LINE__, path, "it names a directory");
    // Replacing moves a new file over the old one, which a read-only attribute would not stop.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return SaveFailed("file writable", __LINE__, path, "the file is read-only");
    exists = attributes != INVALID_FILE_ATTRIBUTES;
    // What the new file keeps of the old one's attributes, as the permission bits are kept elsewhere.
    if (exists)
        kept =
            attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    return true;
}

bool ReplaceFileContents(const std::string& path, const std::string& contents) {
    bool exists = false;
    DWORD kept = 0;
    if (!CheckWindowsTarget(path, exists, kept)) return false;
    std::string temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kTempAttempts && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temp = TempPathBeside(path);
        handle =
            CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
    }
    if (handle == INVALID_HANDLE_VALUE)
        return SaveFailed(
            "temporary file created", __LINE__, path,
            "no temporary file can be made in its directory (error " + std::to_string(error) + ")");
    bool fault;
    const size_t allowed = AllowedBytes(contents.size(), fault);
    bool ok = true;
    for (size_t done = 0; ok && done < allowed;) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(allowed - done, 1u << 30));
        ok = WriteFile(handle, contents.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    const DWORD writeError = GetLastError();
    const bool written = ok && !fault;
    ok = written && FlushFileBuffers(handle);
    ok = CloseHandle(handle) && ok;
    if (!ok) {
        DeleteFileA(temp.c_str());
        return SaveFailed("contents written", __LINE__, path,
                          written ? "the contents could not be flushed to disk"
                                  : "the contents could not be written (disk full? error " +
                                        std::to_string(fault ? ERROR_DISK_FULL : writeError) + ")");
    }
    if (!MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = GetLastError();
        DeleteFileA(temp.c_str());
        return SaveFailed("file replaced", __LINE__, path,
                          std::string(exists ? "the file may not be replaced" : "the file cannot be made") +
                              " (error " + std::to_string(moveError) + ")");
    }
    if (kept) SetFileAttributesA(path.c_str(), kept);  // best effort: the contents are saved
    return true;
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

namespace {

// Symbolic links followed before a path counts as a loop (the usual system limit).
constexpr int kMaxLinks = 40;

// The file a save at `path` writes: path itself, or the regular file its links lead to, or the missing
// name a single link points at (created then). Anything else is refused: a device, FIFO, socket or
// directory, a loop of links, or a chain of links ending at a missing name. False after the report.
bool ResolveTarget(const std::string& path, std::string& target, struct stat& existing, bool& exists) {
    target = path;
    exists = false;
    for (int links = 0; links <= kMaxLinks; ++links) {
        if (lstat(target.c_str(), &existing) != 0) {
            const int error = errno;
            if (error == ENOENT && links <= 1) return true;
            if (error == ENOENT)
                return SaveFailed("links end at a file", __LINE__, path,
                                  "its chain of symbolic links ends at a missing name ('" + target + "')");
            return SaveFailed("path usable", __LINE__, path, SystemError(error));
        }
        if (S_ISREG(existing.st_mode)) {
            exists = true;
            return true;
        }
        if (!S_ISLNK(existing.st_mode)) {
            const char* kind = S_ISDIR(existing.st_mode) ? "a directory"
                               : S_ISFIFO(existing.st_mode) ? "a FIFO"
                               : S_ISSOCK(existing.st_mode) ? "a socket"
                                                            : "a device";
            return SaveFailed("path names a regular file", __LINE__, path,
                              std::string("it names ") + kind + ", not a regular file");
        }
        std::string next(static_cast<size_t>(existing.st_size > 0 ? existing.st_size : 4096) + 1, '\0');
        const ssize_t length = readlink(target.c_str(), &next[0], next.size());
        if (length <= 0) return SaveFailed("path usable", __LINE__, path, SystemError(errno));
        next.resize(static_cast<size_t>(length));
        const size_t slash = target.rfind('/');
        if (next[0] != '/' && slash != std::string::npos) next = target.substr(0, slash + 1) + next;
        target = next;
    }
    return SaveFailed("links end at a file", __LINE__, path, "its symbolic links form a loop");
}

// Gives the new file the old one's owner, group and permission bits; false (errno set) when the process
// may not.
bool KeepOwnerAndMode(int fd, const struct stat& existing) {
    struct stat made;
    if (fstat(fd, &made) != 0) return false;
    if ((made.st_uid != existing.st_uid || made.st_gid != existing.st_gid) &&
        fchown(fd, existing.st_uid, existing.st_gid) != 0)
        return false;
    return fchmod(fd, existing.st_mode & 07777) == 0;  // after fchown, which may clear set-id bits
}

// The existing file itself, opened for writing from its start, if it is still the one looked at.
int OpenInPlace(const std::string& target, const struct stat& existing) {
    const int fd = open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat opened;
    // Opened without blocking (a FIFO swapped in meanwhile must not hold the save up), then blocking again.
    if (fd >= 0 &&
        (fstat(fd, &opened) != 0 || opened.st_dev != existing.st_dev || opened.st_ino != existing.st_ino ||
         fcntl(fd, F_SETFL, 0) != 0 || ftruncate(fd, 0) != 0)) {
        const int error = errno;
        close(fd);
        errno = error ? error : EAGAIN;
        return -1;
    }
    return fd;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& contents) {
    std::string target;
    struct stat existing;
    bool exists = false;
    if (!ResolveTarget(path, target, existing, exists)) return false;
    if (exists && access(target.c_str(), W_OK) != 0)
        return SaveFailed("file writable", __LINE__, path, "the file may not be written");
    // A new file gets the usual permissions; a replacement starts private and then takes the old ones.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
        temp = TempPathBeside(target);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    const int createError = errno;
    // In place: when no file may be created beside it, or the new file could not be given the old one's
    // owner (another user's file): writing it where it is keeps it theirs. Not failure-proof.
    bool inPlace = fd < 0 && createError == EACCES && exists;
    if (fd < 0 && !inPlace)
        return SaveFailed(
            "temporary file created", __LINE__, path,
            "no temporary file can be made in its directory (" + SystemError(createError) + ")");
    if (fd >= 0 && exists && !KeepOwnerAndMode(fd, existing)) {
        const int error = errno;
        close(fd);
        unlink(temp.c_str());
        fd = -1;
        if (error != EPERM)
            return SaveFailed("owner and permissions kept", __LINE__, path, SystemError(error));
        inPlace = true;
    }
    if (inPlace) {
        fd = OpenInPlace(target, existing);
        if (fd < 0) return SaveFailed("file opened in place", __LINE__, path, SystemError(errno));
    }
    bool fault;
    const size_t allowed = AllowedBytes(contents.size(), fault);
    int writeError = 0;
    for (size_t done = 0; !writeError && done < allowed;) {
        const ssize_t written = write(fd, contents.data() + done, allowed - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) writeError = written < 0 ? errno : EIO;
        if (written > 0) done += static_cast<size_t>(written);
    }
    if (fault && !writeError) writeError = ENOSPC;
    if (!writeError && fsync(fd) != 0) writeError = errno;
    if (close(fd) != 0 && !writeError) writeError = errno;
    if (writeError) {
        if (!inPlace) unlink(temp.c_str());
        return SaveFailed("contents written", __LINE__, path, SystemError(writeError));
    }
    if (inPlace) return true;
    if (rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        return SaveFailed("file replaced", __LINE__, path, SystemError(error));
    }
    return true;
}

#endif

#ifdef _WIN32
// The runtime's from_chars rounds a few long decimal texts to a neighbour of the nearest double (e.g.
// 2.025891945643197e+29); the C runtime's strtod here is gdtoa's, correctly rounded. It reads the
// text the grammar accepted, its decimal point as the locale has it.
void CorrectlyRounded(const char* p, const char* end, double& value) {
    char text[512];
    const size_t length = static_cast<size_t>(end - p);
    if (length >= sizeof text) return;  // longer texts only carry more zeros or digits past any double's
    std::memcpy(text, p, length);
    text[length] = '\0';
    char* stop = nullptr;
    double parsed = std::strtod(text, &stop);
    if (stop != text + length) {
        const char point = *std::localeconv()->decimal_point;
        for (size_t i = 0; i < length; ++i)
            if (text[i] == '.') text[i] = point;
        parsed = std::strtod(text, &stop);
    }
    if (stop == text + length) value = parsed;
}
#endif

}  // namespace rcnet::platform
