#include "tools/Progress.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rcnet::tools {
namespace {
constexpr auto kRedraw = std::chrono::milliseconds(100);

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
}  // namespace

Progress::Progress() : m_Start(Clock::now()), m_PhaseStart(m_Start) {
    const char* mode = std::getenv("RCNET_PROGRESS");
    if (mode && std::strcmp(mode, "always") == 0) {
        m_Enabled = m_Visible = true;
    } else if (isatty(STDERR_FILENO)) {
        m_Enabled = true;
        m_Delay = std::chrono::seconds(1);
    }
    if (m_Enabled) m_Thread = std::thread([this] { Run(); });
}

Progress::~Progress() {
    Finish();
    if (m_Thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Stop = true;
        }
        m_Wake.notify_all();
        m_Thread.join();
    }
}

void Progress::Phase(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    const Clock::time_point now = Clock::now();
    EndPhaseLocked(now);
    m_Phase = name;
    m_Fraction = -1;
    m_PhaseStart = now;
    if (m_Enabled && m_Visible) DrawLocked(now);
}

void Progress::Fraction(double done) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Fraction = done;
}

void Progress::Finish() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    EndPhaseLocked(Clock::now());
}

// A phase that was on screen keeps a line of its own, with its time.
void Progress::EndPhaseLocked(Clock::time_point now) {
    if (m_Enabled && m_Visible && !m_Phase.empty()) {
        std::fprintf(stderr, "\r%s: done in %.1f s\033[K\n", m_Phase.c_str(), Seconds(now - m_PhaseStart));
        std::fflush(stderr);
    }
    m_Phase.clear();
}

void Progress::DrawLocked(Clock::time_point now) {
    static const char kSpinner[] = "|/-\\";
    char done[16] = "";
    if (m_Fraction >= 0) std::snprintf(done, sizeof done, "  %3.0f%%", 100 * m_Fraction);
    std::fprintf(stderr, "\r%c %s%s  %.1f s\033[K", kSpinner[m_Tick++ % 4], m_Phase.c_str(), done,
                 Seconds(now - m_PhaseStart));
    std::fflush(stderr);
}

void Progress::Run() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (!m_Stop) {
        m_Wake.wait_for(lock, kRedraw);
        if (m_Stop) break;
        const Clock::time_point now = Clock::now();
        if (now - m_Start < m_Delay || m_Phase.empty()) continue;
        m_Visible = true;
        DrawLocked(now);
    }
}

}  // namespace rcnet::tools
