// Precondition reports: one diagnostic line per failed check, never fatal, active in every build.
#pragma once

#include "include/rcnet.h"

namespace rcnet {

// Writes "Assertion failed: EXPR, file SOURCE, line N\n" to the diagnostic output (or to the calling
// thread's hook, see ReportHook). kind (RCNET_REPORT_*) says what the failure means to a host; the call's
// first one is kept for GetLastReportKind. Never throws, never allocates.
void ReportFailure(const char* expression, const char* source, int line,
                   int kind = RCNET_REPORT_ARGUMENT) noexcept;

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
// ones; past them, how many more there were and the last one (a call's closing line).
constexpr unsigned kKeptReportBytes = 8192;
void BeginCallReports() noexcept;

// One export call's reports: begins them (BeginCallReports). A call made from inside another on the same
// thread (a progress callback calling the library) has its own, and the outer call's are back as they
// were when it returns, so that the host still learns what the outer call reported.
class CallReportsScope {
public:
    CallReportsScope() noexcept;
    ~CallReportsScope();
    CallReportsScope(const CallReportsScope&) = delete;
    CallReportsScope& operator=(const CallReportsScope&) = delete;

private:
    struct Saved;
    Saved* m_Saved = nullptr;  // the outer call's, for a nested call
};
// Copies the kept lines into buffer (size bytes, always terminated when size > 0); returns their length.
unsigned CopyCallReports(char* buffer, unsigned size) noexcept;
// The kind of the current call: its file error's if it has one, else its first report's (0: none).
int CallReportKind() noexcept;

// Why the calling thread's current call could not use a file ("PATH: line L, column C: REASON", or that
// it cannot be opened), for GetLastFileError; cleared with the reports. Keeps at most kKeptReportBytes.
// kind is RCNET_REPORT_FILE_ACCESS or RCNET_REPORT_FILE_FORMAT.
void KeepFileError(const char* text, int kind) noexcept;
unsigned CopyFileError(char* buffer, unsigned size) noexcept;

// Whether reports without a hook also go to the diagnostic output (stderr, and the debugger on Windows);
// on until a host turns it off, for the whole process.
void SetReportEcho(bool on) noexcept;

}  // namespace rcnet

// The macros name the failed expression by its own text and need a constant `kReportSource` in scope
// (one per source: "Net", "Exports", ...). The _AS forms give the report's kind, an RCNET_REPORT_* value
// evaluated only when the check fails; the plain forms report RCNET_REPORT_ARGUMENT.

// Reports and returns failValue (leave it empty in a function returning void).
#define RC_REQUIRE(expr, failValue) RC_REQUIRE_QUOTED(RCNET_REPORT_ARGUMENT, expr, #expr, failValue)
#define RC_REQUIRE_AS(kind, expr, failValue) RC_REQUIRE_QUOTED(kind, expr, #expr, failValue)

// Reports and goes on; yields whether the check held.
#define RC_CHECK(expr) RC_CHECK_QUOTED(RCNET_REPORT_ARGUMENT, expr, #expr)
#define RC_CHECK_AS(kind, expr) RC_CHECK_QUOTED(kind, expr, #expr)

// Quoted by the macros above, before expansion: a macro in the expression stays as it was written.
#define RC_REQUIRE_QUOTED(kind, expr, text, failValue)                     \
    do {                                                                   \
        if (!(expr)) {                                                     \
            ::rcnet::ReportFailure(text, kReportSource, __LINE__, (kind)); \
            return failValue;                                              \
        }                                                                  \
    } while (0)
#define RC_CHECK_QUOTED(kind, expr, text) \
    ((expr) ? true : (::rcnet::ReportFailure(text, kReportSource, __LINE__, (kind)), false))
