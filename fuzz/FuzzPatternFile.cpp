// Pattern-file reader. Properties: all or nothing (a rejected text leaves the result untouched and is
// refused at a place inside it); the same bytes through a small file buffer get the same verdict, place
// and patterns; an accepted one written out exactly reads back to the same values.
#include <charconv>
#include <cmath>
#include <cstdint>

#include <cstdlib>
#include <string>
#include "fuzz/ReaderStops.h"
#include "fuzz/Require.h"

#include "src/PatternFile.h"

namespace {

std::string Exact(double value) {
    char buffer[64];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

bool Same(rcnet::VectorList::View a, rcnet::VectorList::View b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcnet::PatternFile file;
    file.inputSize = 99;
    rcnet::TextReader in(std::string(reinterpret_cast<const char*>(data), size));
    const bool accepted = rcnet::ReadPatterns(in, file);
    ReadThroughSmallBuffer(data, size, [&](rcnet::TextReader& buffer) {
        rcnet::PatternFile other;
        Require(rcnet::ReadPatterns(buffer, other) == accepted, "a small buffer changed the verdict");
        Require(SameStop(buffer.Stop(), in.Stop()), "a small buffer changed the place or reason");
        Require(!accepted || other.inputs.size() == file.inputs.size(),
                "a small buffer changed the patterns");
        for (size_t k = 0; accepted && k < file.inputs.size(); ++k)
            Require(Same(other.inputs[k], file.inputs[k]) && Same(other.outputs[k], file.outputs[k]),
                    "a small buffer changed a value");
    });
    if (!accepted) {
        Require(file.inputSize == 99 && file.inputs.empty(), "a rejected file filled the result");
        RequirePlaceInside(in.Stop(), data, size);
        return 0;
    }
    Require(file.inputs.size() == file.outputs.size(), "inputs and targets differ in number");
    std::string text = std::to_string(file.inputSize) + " " + std::to_string(file.outputSize) + " " +
                       std::to_string(file.inputs.size()) + "\n";
    for (size_t k = 0; k < file.inputs.size(); ++k) {
        Require(file.inputs[k].size() == file.inputSize && file.outputs[k].size() == file.outputSize,
                "a record of the wrong length");
        for (double v : file.inputs[k]) text += Exact(v) + " ";
        for (double v : file.outputs[k]) text += Exact(v) + " ";
    }
    rcnet::PatternFile again;
    rcnet::TextReader reread(text);
    Require(rcnet::ReadPatterns(reread, again), "written patterns do not read back");
    Require(again.inputs.size() == file.inputs.size(), "the pattern count changed");
    for (size_t k = 0; k < file.inputs.size(); ++k)
        Require(Same(again.inputs[k], file.inputs[k]) && Same(again.outputs[k], file.outputs[k]),
                "values changed");
    return 0;
}
