#include "src/Report.h"

#include <cstdio>

#include "platform/Diagnostics.h"

namespace rcnet {
namespace {
thread_local ReportHook t_Hook;
}

void ReportFailure(const char* expression, const char* source, int line) noexcept {
    // One buffer and one write, so that reports from several threads never interleave within a line.
    char text[1024];
    int length = std::snprintf(text, sizeof text, "Assertion failed: %s, file %s, line %d\n", expression,
                               source, line);
    if (length < 0) return;
    if (static_cast<size_t>(length) >= sizeof text) {
        length = sizeof text - 1;
        text[length - 1] = '\n';
    }
    if (t_Hook.sink) {
        t_Hook.sink(text, t_Hook.context);
    } else {
        platform::WriteDiagnosticLine(text, static_cast<size_t>(length));
    }
}

ReportHook SetThreadReportHook(ReportHook hook) noexcept {
    ReportHook previous = t_Hook;
    t_Hook = hook;
    return previous;
}

}  // namespace rcnet
