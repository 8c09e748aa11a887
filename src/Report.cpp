#include "src/Report.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/Diagnostics.h"

namespace rcnet {
namespace {
thread_local ReportHook t_Hook;
// Plain arrays: nothing to construct, nothing to allocate.
thread_local char t_Kept[kKeptReportBytes];
thread_local unsigned t_KeptLength = 0;
thread_local char t_FileError[kKeptReportBytes];
thread_local unsigned t_FileErrorLength = 0;
thread_local int t_Kind = RCNET_REPORT_NONE;      // the call's first report's
thread_local int t_FileKind = RCNET_REPORT_NONE;  // set with its file error
std::atomic<bool> g_Echo{true};

unsigned CopyKept(const char* kept, unsigned length, char* buffer, unsigned size) noexcept {
    if (buffer && size > 0) {
        const unsigned copied = length < size ? length : size - 1;
        std::memcpy(buffer, kept, copied);
        buffer[copied] = '\0';
    }
    return length;
}

void Keep(const char* line, unsigned length) noexcept {
    if (length > kKeptReportBytes - t_KeptLength) return;
    std::memcpy(t_Kept + t_KeptLength, line, length);
    t_KeptLength += length;
}
}  // namespace

void ReportFailure(const char* expression, const char* source, int line, int kind) noexcept {
    if (t_Kind == RCNET_REPORT_NONE) t_Kind = kind;
    // One buffer and one write, so that reports from several threads never interleave within a line.
    char text[1024];
    int length = std::snprintf(text, sizeof text, "Assertion failed: %s, file %s, line %d\n", expression,
                               source, line);
    if (length < 0) return;
    if (static_cast<size_t>(length) >= sizeof text) {
        length = sizeof text - 1;
        text[length - 1] = '\n';
    }
    Keep(text, static_cast<unsigned>(length));
    if (t_Hook.sink) {
        t_Hook.sink(text, t_Hook.context);
    } else if (g_Echo.load(std::memory_order_relaxed)) {
        platform::WriteDiagnosticLine(text, static_cast<size_t>(length));
    }
}

void BeginCallReports() noexcept {
    t_KeptLength = 0;
    t_FileErrorLength = 0;
    t_Kind = RCNET_REPORT_NONE;
    t_FileKind = RCNET_REPORT_NONE;
}

unsigned CopyCallReports(char* buffer, unsigned size) noexcept {
    return CopyKept(t_Kept, t_KeptLength, buffer, size);
}

int CallReportKind() noexcept {
    // The file is what the host has to fix, also when a check inside its reader reported first.
    return t_FileKind != RCNET_REPORT_NONE ? t_FileKind : t_Kind;
}

void KeepFileError(const char* text, int kind) noexcept {
    t_FileKind = kind;
    const size_t length = std::strlen(text);
    t_FileErrorLength = static_cast<unsigned>(length < kKeptReportBytes ? length : kKeptReportBytes - 1);
    std::memcpy(t_FileError, text, t_FileErrorLength);
}

unsigned CopyFileError(char* buffer, unsigned size) noexcept {
    return CopyKept(t_FileError, t_FileErrorLength, buffer, size);
}

void SetReportEcho(bool on) noexcept {
    g_Echo.store(on, std::memory_order_relaxed);
}

ReportHook SetThreadReportHook(ReportHook hook) noexcept {
    ReportHook previous = t_Hook;
    t_Hook = hook;
    return previous;
}

}  // namespace rcnet
