// Precondition reports: one diagnostic line per failed check, never fatal, active in every build.
#pragma once

namespace rcnet {

// Writes "Assertion failed: EXPR, file SOURCE, line N\n" to the diagnostic output (or to the calling
// thread's hook, see ReportHook). Never throws, never allocates.
void ReportFailure(const char* expression, const char* source, int line) noexcept;

// Tests and embedders can divert the reports made on one thread; the line passed includes its "\n".
struct ReportHook {
    void (*sink)(const char* line, void* context) = nullptr;
    void* context = nullptr;
};

// Installs a hook for the calling thread and returns the previous one (a null sink restores the default).
ReportHook SetThreadReportHook(ReportHook hook) noexcept;

// Every report line is also kept for the calling thread, from the start of its current call into the
// library (BeginCallReports, which every export's frame calls) on, so that a host can ask for them
// (GetLastReport) instead of reading stderr. At most kKeptReportBytes are kept: whole lines, the first
// ones.
constexpr unsigned kKeptReportBytes = 8192;
void BeginCallReports() noexcept;
// Copies the kept lines into buffer (size bytes, always terminated when size > 0); returns their length.
unsigned CopyCallReports(char* buffer, unsigned size) noexcept;

// Why the calling thread's current call could not use a file ("PATH: line L, column C: REASON", or that
// it cannot be opened), for GetLastFileError; cleared with the reports. Keeps at most kKeptReportBytes.
void KeepFileError(const char* text) noexcept;
unsigned CopyFileError(char* buffer, unsigned size) noexcept;

// Whether reports without a hook also go to the diagnostic output (stderr, and the debugger on Windows);
// on until a host turns it off, for the whole process.
void SetReportEcho(bool on) noexcept;

}  // namespace rcnet

// Both macros name the failed expression by its own text and need a constant `kReportSource` in scope
// (one per source: "Net", "Exports", ...).

// Reports and returns failValue (leave it empty in a function returning void).
#define RC_REQUIRE(expr, failValue)                                 \
    do {                                                            \
        if (!(expr)) {                                              \
            ::rcnet::ReportFailure(#expr, kReportSource, __LINE__); \
            return failValue;                                       \
        }                                                           \
    } while (0)

// Reports and goes on; yields whether the check held.
#define RC_CHECK(expr) ((expr) ? true : (::rcnet::ReportFailure(#expr, kReportSource, __LINE__), false))
