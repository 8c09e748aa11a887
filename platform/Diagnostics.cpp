#include "platform/Diagnostics.h"

#include <cstdio>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace rcnet::platform {

void WriteDiagnosticLine(const char* text, size_t length) noexcept {
    std::fwrite(text, 1, length, stderr);
    std::fflush(stderr);
#ifdef _WIN32
    OutputDebugStringA(text);
#endif
}

}  // namespace rcnet::platform
