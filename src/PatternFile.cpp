#include "src/PatternFile.h"

#include <algorithm>

#include "platform/Files.h"
#include "src/FileOps.h"

namespace rcnet {
namespace {

// Reads count values into values.
bool ReadValues(TextReader& in, uint32_t count, Vector& values) {
    // Every value needs at least one character and a separator.
    if (count > in.RemainingBytes() / 2 + 1) return in.Fail();
    values.resize(count);
    for (double& value : values)
        if (!in.Double(value)) return false;
    return true;
}

bool ReadRecords(TextReader& in, PatternFile& result) {
    uint32_t count;
    if (!in.Count(result.inputSize) || !in.Count(result.outputSize) || !in.Count(count)) return false;
    const uint64_t width = uint64_t{result.inputSize} + result.outputSize;
    if (width == 0 && count > kMaxEmptyRecords) return in.Fail();
    // Room only for the records the remaining text can hold (a value takes two characters at least).
    const uint64_t fits = width ? in.RemainingBytes() / (2 * width) : count;
    const size_t expected = static_cast<size_t>(std::min<uint64_t>(count, fits));
    result.inputs.Reserve(expected, result.inputSize);
    result.outputs.Reserve(expected, result.outputSize);
    Vector input, output;
    for (uint32_t k = 0; k < count; ++k) {
        if (!ReadValues(in, result.inputSize, input) || !ReadValues(in, result.outputSize, output))
            return false;
        result.inputs.Reserve(1, result.inputSize);
        result.outputs.Reserve(1, result.outputSize);
        result.inputs.PushBack(input);
        result.outputs.PushBack(output);
    }
    return true;
}

}  // namespace

bool ReadPatterns(TextReader& in, PatternFile& file) {
    PatternFile result;
    if (!ReadRecords(in, result)) return false;
    file = std::move(result);
    return true;
}

bool ReadPatternFile(const std::string& path, PatternFile& file) {
    uint64_t size = 0;
    std::FILE* handle = platform::OpenForReading(path, size);
    if (!handle) return false;
    bool ok;
    {
        TextReader in(handle, size);
        ok = ReadPatterns(in, file);
    }
    std::fclose(handle);
    return ok;
}

}  // namespace rcnet
