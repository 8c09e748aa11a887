// Properties of the readers' refusals, for the file fuzz targets: a refused text is refused at a place
// inside it (its end when it ends too early) whose line and column are those of its offset, and the same
// bytes read through a file and a small buffer give the same verdict, place and reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/Require.h"
#include "src/FileOps.h"

inline void RequirePlaceInside(const rcnet::inspect::ReadStop& stop, const uint8_t* data, size_t size) {
    Require(!stop.reason.empty(), "a refusal without a reason");
    Require(stop.at.offset <= size, "a refusal placed after the end of the text");
    uint64_t line = 1, start = 0;
    for (uint64_t i = 0; i < stop.at.offset; ++i)
        if (data[i] == '\n') ++line, start = i + 1;
    Require(stop.at.line == line && stop.at.column == stop.at.offset - start + 1,
            "a refusal's line and column are not those of its offset");
}

inline bool SameStop(const rcnet::inspect::ReadStop& a, const rcnet::inspect::ReadStop& b) {
    return a.at.line == b.at.line && a.at.column == b.at.column && a.at.offset == b.at.offset &&
           a.reason == b.reason;
}

// Runs read(TextReader&) over the bytes as a file read through a buffer of 1 to 16 bytes (the first
// byte chooses); false when no file could be made of them.
template <typename Read>
bool ReadThroughSmallBuffer(const uint8_t* data, size_t size, Read&& read) {
    if (size == 0) return false;
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return false;
    {
        rcnet::TextReader in(file, size, 1 + data[0] % 16);
        read(in);
    }
    std::fclose(file);
    return true;
}
