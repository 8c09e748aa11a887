// A progress line on stderr for long commands: the current phase with a spinner and its elapsed time,
// redrawn from a background thread (the library's calls, such as LearnNet, give no progress of their
// own). It appears only on a terminal and only once the command has run for a second; each phase that
// ends after that leaves a line with its time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace rcnet::tools {

class Progress {
public:
    // Shown when stderr is a terminal, or always when the environment has RCNET_PROGRESS=always (then
    // without the one second delay; for tests).
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Ends the current phase (if any) and starts the next.
    void Phase(const std::string& name);
    // Ends the current phase.
    void Finish();

private:
    using Clock = std::chrono::steady_clock;
    void Run();
    void EndPhaseLocked(Clock::time_point now);
    void DrawLocked(Clock::time_point now);

    bool m_Enabled = false;
    Clock::duration m_Delay{};
    Clock::time_point m_Start;
    Clock::time_point m_PhaseStart;
    std::string m_Phase;
    bool m_Visible = false;  // the delay has passed: phases are being shown
    bool m_Stop = false;
    int m_Tick = 0;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    std::thread m_Thread;
};

}  // namespace rcnet::tools
