// The text of lines as this build's writers end them (CR LF on Windows, LF elsewhere).
#pragma once

#include <initializer_list>
#include <string>

#include "platform/Files.h"

namespace rcnet::test {

inline std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(line) + platform::kLineEnd;
    return text;
}

}  // namespace rcnet::test
