// A progress line on stderr for long commands: the current phase with a spinner, its elapsed time and,
// where the library reports it (SetNetProgress), the fraction done; redrawn from a background thread. It
// appears only on a terminal and only once the command has run for a second; each phase that ends after that
// leaves a line with its time.
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
    // The current phase's fraction done (0 to 1), shown beside it; any thread may call it.
    void Fraction(double done);

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
    double m_Fraction = -1;  // below 0: not known
    bool m_Visible = false;  // the delay has passed: phases are being shown
    bool m_Stop = false;
    int m_Tick = 0;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    std::thread m_Thread;
};

}  // namespace rcnet::tools
