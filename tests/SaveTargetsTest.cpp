// What a save may replace: only regular files (or a new name), keeping owner, group and mode; every
// failure reported; no leftover of an earlier save in the way.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __linux__
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "include/rcnet.h"
#include "tests/support/FileError.h"
#include "tests/support/FileFaults.h"
#include "tests/support/Lines.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempDir.h"

namespace {

using rcnet::test::LastFileError;
using rcnet::test::Lines;
using rcnet::test::ReadBytes;
using rcnet::test::ReportCapture;
using rcnet::test::TempDir;
using rcnet::test::WriteBytes;
using Checks = std::vector<std::string>;

const std::string kSaved = Lines({"4 4 0", "0 0", "0", "0 0"});

class SaveTargets : public rcnet::test::OneNetTest<7100, 4, 4, 0> {
protected:
    // Saves to path and expects a refusal with exactly one report, from the file layer, and a reason.
    void ExpectRefused(const std::string& path, const std::string& report) {
        ReportCapture capture;
        EXPECT_EQ(SaveNetToFile(kId, path.c_str()), 0) << path;
        EXPECT_EQ(capture.Checks(), Checks{report + " @ Files"}) << path;
        EXPECT_EQ(LastFileError().rfind(path + ": cannot be saved: ", 0), 0u) << LastFileError();
    }

    TempDir dir;
};

TEST_F(SaveTargets, EveryFailedSaveIsReported) {
    ExpectRefused(dir.File("no/such/dir/x.net"), "temporary file created");
    ExpectRefused(dir.Path().string(), "path names a regular file");
    const std::string path = dir.File("keep.net");
    WriteBytes(path, "previous");
    rcnet::platform::FailNextWriteAfter(10);
    ExpectRefused(path, "contents written");
    EXPECT_EQ(ReadBytes(path), "previous");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.net"});
}

#ifdef _WIN32
TEST_F(SaveTargets, DevicesAreNotReplaced) {
    ExpectRefused("NUL", "path names a regular file");
    EXPECT_TRUE(dir.Names().empty());
}

TEST_F(SaveTargets, ReadOnlyFilesAreKeptAndHiddenOnesStayHidden) {
    const std::string locked = dir.File("locked.net"), hidden = dir.File("hidden.net");
    WriteBytes(locked, "previous");
    WriteBytes(hidden, "previous");
    ASSERT_TRUE(SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ExpectRefused(locked, "file writable");
    EXPECT_EQ(ReadBytes(locked), "previous");
    ASSERT_EQ(SaveNetToFile(kId, hidden.c_str()), 1);
    EXPECT_EQ(ReadBytes(hidden), kSaved);
    EXPECT_TRUE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The temporary file beside a name near the path limit must fit too.
TEST_F(SaveTargets, NamesNearThePathLimitSave) {
    char full[MAX_PATH];
    ASSERT_GT(GetFullPathNameA(dir.Path().string().c_str(), MAX_PATH, full, nullptr), 0u);
    std::string folder = dir.Path().string();
    for (size_t length = std::string(full).size(); length + 2 + 100 < MAX_PATH - 10;) {
        folder += "\\" + std::string(100, 'd');
        length += 101;
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    }
    const size_t room =
        MAX_PATH - 1 - (std::string(full).size() + folder.size() - dir.Path().string().size()) - 1;
    for (size_t name : {size_t{5}, room / 2, room}) {
        const std::string path = folder + "\\" + std::string(name - 4, 'n') + ".net";
        ReportCapture capture;
        EXPECT_EQ(SaveNetToFile(kId, path.c_str()), 1) << path.size() << ": " << LastFileError();
        EXPECT_EQ(ReadBytes(path), kSaved);
    }
}
#endif

// A save killed part way leaves its temporary file; a later process may have the same pid.
TEST_F(SaveTargets, LeftoverTemporaryFilesAreNotInTheWay) {
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    std::vector<std::string> leftovers;
    for (int n = 0; n < 300; ++n) {
        leftovers.push_back(".rcnet-" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp");
        WriteBytes(dir.File(leftovers.back()), "left by a killed save");
    }
    const std::string path = dir.File("net.net");
    for (int round = 0; round < 20; ++round) {
        ReportCapture capture;
        ASSERT_EQ(SaveNetToFile(kId, path.c_str()), 1) << "round " << round;
        EXPECT_TRUE(capture.Lines().empty());
    }
    EXPECT_EQ(ReadBytes(path), kSaved);
    leftovers.push_back("net.net");
    std::sort(leftovers.begin(), leftovers.end());
    EXPECT_EQ(dir.Names(), leftovers) << "the leftovers are neither used nor removed, and nothing is added";
    EXPECT_EQ(ReadBytes(dir.File(leftovers.front())), "left by a killed save");
}

#ifdef __linux__

TEST_F(SaveTargets, SpecialFilesAndBrokenLinksAreLeftAlone) {
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ExpectRefused(fifo, "path names a regular file");

    const std::string socketPath = dir.File("socket");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ExpectRefused(socketPath, "path names a regular file");
    close(fd);

    // A device node of its own (the null device's numbers): never the system's.
    const std::string device = dir.File("device");
    const bool haveDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (haveDevice) ExpectRefused(device, "path names a regular file");

    ASSERT_EQ(symlink("loop-b", dir.File("loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", dir.File("loop-b").c_str()), 0);
    ExpectRefused(dir.File("loop-a"), "links end at a file");
    ASSERT_EQ(symlink("chain-2", dir.File("chain-1").c_str()), 0);
    ASSERT_EQ(symlink("missing", dir.File("chain-2").c_str()), 0);
    ExpectRefused(dir.File("chain-1"), "links end at a file");
    ASSERT_EQ(symlink("fifo", dir.File("to-fifo").c_str()), 0);
    ExpectRefused(dir.File("to-fifo"), "path names a regular file");

    struct stat info;
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(lstat(socketPath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    if (haveDevice) {
        ASSERT_EQ(lstat(device.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    for (const char* link : {"loop-a", "loop-b", "chain-1", "chain-2", "to-fifo"}) {
        ASSERT_EQ(lstat(dir.File(link).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << link;
    }
    std::vector<std::string> expected{"chain-1", "chain-2", "fifo", "loop-a", "loop-b", "socket", "to-fifo"};
    if (haveDevice) expected.push_back("device");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Names(), expected) << "nothing made, nothing left behind";

    // A link chain to a regular file is followed to it; the links stay.
    ASSERT_EQ(symlink("chain-4", dir.File("chain-3").c_str()), 0);
    ASSERT_EQ(symlink("file.net", dir.File("chain-4").c_str()), 0);
    WriteBytes(dir.File("file.net"), "old");
    ASSERT_EQ(SaveNetToFile(kId, dir.File("chain-3").c_str()), 1);
    EXPECT_EQ(ReadBytes(dir.File("file.net")), kSaved);
    ASSERT_EQ(lstat(dir.File("chain-3").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST_F(SaveTargets, RootKeepsTheOwnerGroupAndMode) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
    const std::string path = dir.File("theirs.net");
    WriteBytes(path, "old");
    ASSERT_EQ(chown(path.c_str(), 54321, 54322), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(SaveNetToFile(kId, path.c_str()), 1);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 54321u);
    EXPECT_EQ(info.st_gid, 54322u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(path), kSaved);
}

// Another user's group-writable file, saved by someone who may not give a file away: written in place,
// so it stays its owner's.
TEST_F(SaveTargets, AnotherUsersFileStaysTheirs) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
    const uid_t saver = 54323, owner = 54324;
    const gid_t group = 54325;
    ASSERT_EQ(chmod(dir.Path().string().c_str(), 0777), 0);
    const std::string path = dir.File("shared.net");
    WriteBytes(path, "old");
    ASSERT_EQ(chown(path.c_str(), owner, group), 0);
    ASSERT_EQ(chmod(path.c_str(), 0664), 0);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t groups[] = {group};
        if (setgroups(1, groups) != 0 || setgid(group) != 0 || setuid(saver) != 0) _exit(3);
        _exit(SaveNetToFile(kId, path.c_str()) == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_EQ(after.st_mode & 07777, 0664u);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written where it is";
    EXPECT_EQ(ReadBytes(path), kSaved);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"shared.net"});
}

#endif

}  // namespace
