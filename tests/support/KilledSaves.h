// Saves killed at random moments (Linux): two networks of different bytes, and a child process that
// saves them in turn over one file until it is killed.
#pragma once

#ifdef __linux__
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "include/rcnet.h"
#include "tests/support/TempDir.h"

namespace rcnet::test {

class KilledSaves {
public:
    // Registers ids first and first + 1 (neurons neurons each, different draws) and writes each once
    // to path, to learn its exact bytes.
    KilledSaves(int first, int neurons, std::string path, uint32_t seed)
        : m_First(first), m_Path(std::move(path)), m_Random(seed) {
        for (int v = 0; v < 2; ++v) {
            RegisterUsage(first + v, 1, 1, v);
            Randomize(static_cast<unsigned>(v + 1));
            AddNeuronsToNet(first + v, neurons, 1);
            AddRandomConnectionsToNet(first + v, 10 * neurons);
            InitNetInputMatrix(first + v, 1);
            SaveNetToFile(first + v, m_Path.c_str());
            m_Versions[v] = ReadBytes(m_Path);
        }
    }
    ~KilledSaves() {
        UnregisterUsage(m_First);
        UnregisterUsage(m_First + 1);
    }
    KilledSaves(const KilledSaves&) = delete;
    KilledSaves& operator=(const KilledSaves&) = delete;

    bool VersionsDiffer() const { return !m_Versions[0].empty() && m_Versions[0] != m_Versions[1]; }

    // Forks a saver, kills it after a random 0.2 to 20 ms and waits for it; false when no process could
    // be made. whole: the file then holds one version entire (killed saves may leave their temporary
    // files beside it, never a mixture).
    bool KillOne(bool& whole) {
        const pid_t child = fork();
        if (child < 0) return false;
        if (child == 0) {
            // In a process with other threads, a lock held by one at the fork may stop this child; it
            // is killed all the same.
            for (int i = 0;; ++i) SaveNetToFile(m_First + i % 2, m_Path.c_str());
        }
        m_Random = m_Random * 1664525u + 1013904223u;
        usleep(200 + (m_Random >> 8) % 20000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = ReadBytes(m_Path);
        whole = now == m_Versions[0] || now == m_Versions[1];
        return true;
    }

private:
    int m_First;
    std::string m_Path;
    uint32_t m_Random;
    std::string m_Versions[2];
};

}  // namespace rcnet::test
#endif
