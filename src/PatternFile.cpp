#include "src/PatternFile.h"

#include <algorithm>

#include "src/FileOps.h"

namespace rcnet {
namespace {
using fileops::Of;

// Reads count values of pattern `pattern` of `patterns` into values; `what` is "input" or "target".
bool ReadValues(TextReader& in, uint32_t count, Vector& values, const char* what, uint32_t pattern,
                uint32_t patterns) {
    // Every value needs at least one character and a separator.
    const uint64_t room = in.RemainingBytes();
    if (count > room / 2 + 1) {
        return in.Refuse(in.NextPlace(), "the file ends too early: pattern " + Of(pattern + 1, patterns) +
                                             " needs " + std::to_string(count) + " " + what +
                                             " values, more than the remaining " +
                                             fileops::Plural(room, "byte", "bytes") + " can hold");
    }
    values.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        const auto expected = [&] {
            return std::string(what) + " " + Of(i + 1, count) + " of pattern " + Of(pattern + 1, patterns);
        };
        if (!in.Double(values[i], expected)) return false;
    }
    return true;
}

bool ReadRecords(TextReader& in, PatternFile& result) {
    uint32_t count = 0;
    if (!in.Count(result.inputSize, "the input size (the file's first value)") ||
        !in.Count(result.outputSize, "the output size (the file's second value)") ||
        !in.Count(count, "the number of patterns (the file's third value)"))
        return false;
    const uint64_t width = uint64_t{result.inputSize} + result.outputSize;
    if (width == 0 && count > kMaxEmptyRecords) {
        return in.Refuse(in.ValuePlace(), "the header announces " + std::to_string(count) +
                                              " patterns without values, more than the library accepts (" +
                                              std::to_string(kMaxEmptyRecords) + ")");
    }
    // Room only for the records the remaining text can hold (a value takes two characters at least).
    const uint64_t fits = width ? in.RemainingBytes() / (2 * width) : count;
    const size_t expected = static_cast<size_t>(std::min<uint64_t>(count, fits));
    result.inputs.Reserve(expected, result.inputSize);
    result.outputs.Reserve(expected, result.outputSize);
    Vector input, output;
    for (uint32_t k = 0; k < count; ++k) {
        if (!ReadValues(in, result.inputSize, input, "input", k, count) ||
            !ReadValues(in, result.outputSize, output, "target", k, count))
            return false;
        result.inputs.Reserve(1, result.inputSize);
        result.outputs.Reserve(1, result.outputSize);
        result.inputs.PushBack(input);
        result.outputs.PushBack(output);
    }
    return true;
}

constexpr char kSequencesRecord[] = "sequences";

// "sequences K s1 ... sK": K pattern indices, ascending, each below the pattern count.
bool ReadSequenceStarts(TextReader& in, uint32_t patterns, std::vector<uint32_t>& starts) {
    uint32_t count = 0;
    if (!in.Count(count, "the number of sequence starts after 'sequences'")) return false;
    if (count > patterns) {
        return in.Refuse(in.ValuePlace(), "the sequences record announces " + std::to_string(count) +
                                              " starts for " +
                                              fileops::Plural(patterns, "pattern", "patterns"));
    }
    starts.reserve(count);
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t start = 0;
        if (!in.Count(start,
                      [&] { return "sequence start " + Of(k + 1, count) + " (a pattern index from 0)"; }))
            return false;
        if (start >= patterns || (!starts.empty() && start <= starts.back())) {
            return in.Refuse(
                in.ValuePlace(),
                "'" + in.ValueText() + "' is not a sequence start (expected " + "a pattern index below " +
                    std::to_string(patterns) +
                    (starts.empty() ? std::string(")") : ", above " + std::to_string(starts.back()) + ")"));
        }
        starts.push_back(start);
    }
    return true;
}

}  // namespace

bool ReadPatterns(TextReader& in, PatternFile& file) {
    PatternFile result;
    if (!ReadRecords(in, result)) return false;
    if (in.Word(kSequencesRecord) &&
        !ReadSequenceStarts(in, static_cast<uint32_t>(result.inputs.size()), result.sequenceStarts))
        return false;
    file = std::move(result);
    return true;
}

bool ReadPatternFile(const std::string& path, PatternFile& file) {
    return ReadFile(path, [&](TextReader& in) { return ReadPatterns(in, file); });
}

}  // namespace rcnet
