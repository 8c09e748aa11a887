// Where precondition reports go: stderr, and on Windows also the debugger output, since a GUI host has no
// console.
#pragma once

#include <cstddef>

namespace rcnet::platform {

// text is one whole line ending in "\n" and zero-terminated; length excludes the terminator.
void WriteDiagnosticLine(const char* text, size_t length) noexcept;

}  // namespace rcnet::platform
