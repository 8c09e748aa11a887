#include "src/Report.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

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
// Lines that did not fit, and the last of them: a call's closing line (a readout that came out all zero)
// outlasts a flood of per-step ones.
thread_local unsigned t_Dropped = 0;
thread_local char t_LastDropped[1024];
thread_local unsigned t_LastDroppedLength = 0;
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
    if (length <= kKeptReportBytes - t_KeptLength) {
        std::memcpy(t_Kept + t_KeptLength, line, length);
        t_KeptLength += length;
        return;
    }
    ++t_Dropped;
    t_LastDroppedLength = length < sizeof t_LastDropped ? length : unsigned{sizeof t_LastDropped};
    std::memcpy(t_LastDropped, line, t_LastDroppedLength);
}

// Appends text to what buffer holds so far (at `*at`), as far as it fits, always terminated.
void Append(char* buffer, unsigned size, unsigned& at, const char* text, unsigned length) noexcept {
    if (buffer && size > 0 && at < size - 1) {
        const unsigned copied = length < size - 1 - at ? length : size - 1 - at;
        std::memcpy(buffer + at, text, copied);
        buffer[at + copied] = '\0';
    }
    at += length;
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
    t_Dropped = 0;
    t_LastDroppedLength = 0;
}

namespace {
thread_local unsigned t_CallDepth = 0;
}  // namespace

struct CallReportsScope::Saved {
    char kept[kKeptReportBytes];
    char fileError[kKeptReportBytes];
    char lastDropped[sizeof t_LastDropped];
    unsigned keptLength, fileErrorLength, dropped, lastDroppedLength;
    int kind, fileKind;
};

CallReportsScope::CallReportsScope() noexcept {
    // Nested calls are rare (callbacks): only they pay for the copy. Without memory the outer call's
    // reports are lost, as they were before.
    if (t_CallDepth++ > 0 && (m_Saved = new (std::nothrow) Saved)) {
        std::memcpy(m_Saved->kept, t_Kept, t_KeptLength);
        std::memcpy(m_Saved->fileError, t_FileError, t_FileErrorLength);
        m_Saved->keptLength = t_KeptLength;
        m_Saved->fileErrorLength = t_FileErrorLength;
        m_Saved->kind = t_Kind;
        m_Saved->fileKind = t_FileKind;
        std::memcpy(m_Saved->lastDropped, t_LastDropped, t_LastDroppedLength);
        m_Saved->dropped = t_Dropped;
        m_Saved->lastDroppedLength = t_LastDroppedLength;
    }
    BeginCallReports();
}

CallReportsScope::~CallReportsScope() {
    --t_CallDepth;
    if (!m_Saved) return;
    std::memcpy(t_Kept, m_Saved->kept, m_Saved->keptLength);
    std::memcpy(t_FileError, m_Saved->fileError, m_Saved->fileErrorLength);
    t_KeptLength = m_Saved->keptLength;
    t_FileErrorLength = m_Saved->fileErrorLength;
    t_Kind = m_Saved->kind;
    t_FileKind = m_Saved->fileKind;
    std::memcpy(t_LastDropped, m_Saved->lastDropped, m_Saved->lastDroppedLength);
    t_Dropped = m_Saved->dropped;
    t_LastDroppedLength = m_Saved->lastDroppedLength;
    delete m_Saved;
}

unsigned CopyCallReports(char* buffer, unsigned size) noexcept {
    if (t_Dropped == 0) return CopyKept(t_Kept, t_KeptLength, buffer, size);
    // The first lines, how many were left out, and the last.
    unsigned at = 0;
    if (buffer && size > 0) buffer[0] = '\0';
    Append(buffer, size, at, t_Kept, t_KeptLength);
    if (t_Dropped > 1) {
        char note[96];
        const int length = std::snprintf(note, sizeof note, "(%u more lines not kept)\n", t_Dropped - 1);
        if (length > 0) Append(buffer, size, at, note, static_cast<unsigned>(length));
    }
    Append(buffer, size, at, t_LastDropped, t_LastDroppedLength);
    return at;
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
