// rcnet predict: runs a pattern file's inputs through a network, in file order, and writes the outputs
// as CSV.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "tools/Commands.h"
#include "tools/Csv.h"
#include "tools/LibraryNet.h"

namespace rcnet::tools {
namespace {

// The shortest text that reads back as the same double, free of the locale.
void AppendNumber(std::string& line, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    line.append(buffer, result.ptr);
}

void AppendHeader(std::string& line, const char* name, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (!line.empty()) line += ',';
        line += name + std::to_string(i);
    }
}

// "I:O:D,..." into (input, output, delay) triples, checked against the network's sizes.
bool ParseFeedback(const std::string& text, uint32_t inSize, uint32_t outSize, std::vector<int>& taps) {
    std::vector<bool> fed(inSize, false);
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find(',', start), text.size());
        const char* p = text.data() + start;
        const char* const last = text.data() + end;
        int tap[3];
        bool ok = true;
        for (int k = 0; k < 3 && ok; ++k) {
            const auto result = std::from_chars(p, last, tap[k]);
            ok = result.ec == std::errc() &&
                 (k == 2 ? result.ptr == last : result.ptr < last && *result.ptr == ':');
            p = result.ptr + 1;
        }
        const std::string item = text.substr(start, end - start);
        if (!ok) {
            std::fprintf(stderr, "rcnet predict: --feedback: '%s' is not INPUT:OUTPUT:DELAY\n", item.c_str());
            return false;
        }
        if (tap[0] < 0 || uint32_t(tap[0]) >= inSize || tap[1] < 0 || uint32_t(tap[1]) >= outSize ||
            tap[2] < 1) {
            std::fprintf(stderr,
                         "rcnet predict: --feedback: '%s' is out of range (inputs 0 to %d, outputs 0 to %d, "
                         "delay at least 1)\n",
                         item.c_str(), int(inSize) - 1, int(outSize) - 1);
            return false;
        }
        if (fed[size_t(tap[0])]) {
            std::fprintf(stderr, "rcnet predict: --feedback: input %d is fed back twice\n", tap[0]);
            return false;
        }
        fed[size_t(tap[0])] = true;
        taps.insert(taps.end(), tap, tap + 3);
        start = end + 1;
    }
    return true;
}

// The closed-loop steps' input rows from a CSV file: rows lines of columns values each.
bool ReadFuture(const std::string& path, size_t rows, uint32_t columns, std::vector<double>& values) {
    CsvTable table;
    if (!ReadCsv(path, "predict", table)) return false;
    if (!table.rows.empty() && table.rows[0].size() != columns) {
        std::fprintf(stderr, "rcnet predict: %s has %zu values per row, the network %u inputs\n",
                     path.c_str(), table.rows[0].size(), columns);
        return false;
    }
    if (table.rows.size() != rows) {
        std::fprintf(stderr, "rcnet predict: %s has %zu rows, --generate asks for %zu\n", path.c_str(),
                     table.rows.size(), rows);
        return false;
    }
    values.clear();
    for (const std::vector<double>& row : table.rows) values.insert(values.end(), row.begin(), row.end());
    return true;
}

// Where the map reaches back before the loop and the row says nan, the output of that step of the
// pattern file's run stands in (the last pattern's step is the one before the loop's first).
bool FillKnownPast(const std::vector<int>& taps, const std::vector<double>& history, uint32_t outSize,
                   size_t steps, uint32_t inSize, std::vector<double>& rows) {
    const size_t past = history.size() / outSize;
    for (size_t k = 0; k < taps.size(); k += 3) {
        const size_t input = size_t(taps[k]), output = size_t(taps[k + 1]), delay = size_t(taps[k + 2]);
        for (size_t t = 0; t < std::min(delay, steps); ++t) {
            double& value = rows[t * inSize + input];
            if (!std::isnan(value)) continue;
            if (past + t < delay) {
                std::fprintf(
                    stderr,
                    "rcnet predict: input %zu of closed-loop step %zu reaches %zu steps back, before "
                    "the pattern file's first pattern: give it in --future\n",
                    input, t, delay);
                return false;
            }
            value = history[(past + t - delay) * outSize + output];
        }
    }
    return true;
}

// A CSV file's rows as patterns: the network's inputs in the first columns, targets in the rest.
bool ReadCsvPatterns(const std::string& file, uint32_t inSize, inspect::PatternFileCheck& patterns) {
    CsvTable table;
    if (!ReadCsv(file, "predict", table)) return false;
    const size_t width = !table.rows.empty() ? table.rows[0].size() : table.header.size();
    if (width < inSize) {
        std::fprintf(stderr, "rcnet predict: %s has %zu columns, fewer than the network's %u inputs\n",
                     file.c_str(), width, inSize);
        return false;
    }
    patterns.accepted = true;
    patterns.inputSize = inSize;
    patterns.outputSize = static_cast<uint32_t>(width - inSize);
    for (const std::vector<double>& row : table.rows) {
        patterns.inputs.emplace_back(row.begin(), row.begin() + inSize);
        patterns.targets.emplace_back(row.begin() + inSize, row.end());
    }
    return true;
}

}  // namespace

int RunPredict(const PredictOptions& options) {
    RegisteredNet registered(0, 0, false);
    inspect::Network net;
    if (!LoadNetwork(options.netFile, registered, "predict") || !inspect::GetNetwork(registered.Id(), net))
        return kExitFailure;
    const uint32_t inSize = net.inputs, outSize = net.outputs;

    // A network file read as patterns could even pass (its first line looks like a header).
    std::error_code error;
    if (options.patternFile == options.netFile ||
        std::filesystem::equivalent(options.patternFile, options.netFile, error) ||
        inspect::CheckNetworkFile(options.patternFile).accepted) {
        std::fprintf(stderr, "rcnet predict: %s is a network file; the second file must hold patterns\n",
                     options.patternFile.c_str());
        return kExitUsage;
    }
    inspect::PatternFileCheck patterns;
    if (IsCsv(options.patternFile)) {
        if (!ReadCsvPatterns(options.patternFile, inSize, patterns)) return kExitFailure;
    } else {
        patterns = inspect::CheckPatternFile(options.patternFile);
        if (!patterns.accepted) {
            PrintRefusal("predict", options.patternFile, patterns);
            return kExitFailure;
        }
    }
    if (patterns.inputSize != inSize) {
        std::fprintf(stderr, "rcnet predict: %s has %u inputs per pattern, the network %u\n",
                     options.patternFile.c_str(), patterns.inputSize, inSize);
        return kExitFailure;
    }
    if (options.targets && patterns.outputSize != outSize) {
        std::fprintf(stderr, "rcnet predict: %s has %u targets per pattern, the network %u outputs\n",
                     options.patternFile.c_str(), patterns.outputSize, outSize);
        return kExitFailure;
    }

    // The network cannot run on a value that is not a number; a target not known (nan) is left out of
    // the score.
    if (const NotFiniteValues bad = FindNotFinite(patterns.inputs); bad.count) {
        std::fprintf(
            stderr, "rcnet predict: %s: input %zu of pattern %zu is %g: the network cannot run on it\n",
            options.patternFile.c_str(), bad.column, bad.row + 1, patterns.inputs[bad.row][bad.column]);
        return kExitFailure;
    }
    if (options.washout && static_cast<size_t>(*options.washout) > patterns.inputs.size()) {
        std::fprintf(stderr, "rcnet predict: --washout %d is more than the %zu patterns of %s\n",
                     *options.washout, patterns.inputs.size(), options.patternFile.c_str());
        return kExitUsage;
    }
    if ((!options.feedback.empty() || !options.future.empty()) && options.generate == 0) {
        std::fprintf(stderr, "rcnet predict: --feedback and --future go with --generate K\n");
        return kExitUsage;
    }
    if (!options.future.empty() && options.feedback.empty()) {
        std::fprintf(stderr, "rcnet predict: --future needs --feedback: which inputs the outputs feed\n");
        return kExitUsage;
    }
    std::vector<int> taps;
    if (!options.feedback.empty() && !ParseFeedback(options.feedback, inSize, outSize, taps))
        return kExitUsage;
    const bool mapped = !taps.empty();
    std::vector<double> future;
    if (mapped) {
        if (!options.future.empty()) {
            if (!ReadFuture(options.future, size_t(options.generate), inSize, future)) return kExitFailure;
        } else {
            if (taps.size() / 3 != inSize) {
                std::fprintf(stderr,
                             "rcnet predict: --feedback feeds %zu of %u inputs: give the others' values for "
                             "each closed-loop step with --future\n",
                             taps.size() / 3, inSize);
                return kExitUsage;
            }
            future.assign(size_t(options.generate) * inSize, std::nan(""));
        }
    }
    if (options.generate > 0 && !mapped && inSize != outSize) {
        std::fprintf(stderr, "rcnet predict: --generate needs as many inputs as outputs (%s has %u and %u)\n",
                     options.netFile.c_str(), inSize, outSize);
        return kExitUsage;
    }
    if (options.generate > 0 && !mapped && patterns.inputs.empty()) {
        std::fprintf(stderr,
                     "rcnet predict: --generate goes on from the last prediction: %s has no patterns\n",
                     options.patternFile.c_str());
        return kExitUsage;
    }

    // Allocated before the first row is printed: a --generate too large for memory ends with nothing.
    std::vector<double> generated(static_cast<size_t>(options.generate) * outSize);
    std::string line;
    AppendHeader(line, "output", outSize);
    if (options.targets) AppendHeader(line, "target", outSize);
    std::vector<double> outputs(outSize);
    std::vector<double> history;  // every step's outputs, for a feedback map that reaches back
    // Sequences as the file marks them, each from zero states as in training.
    const std::vector<size_t> bounds = SequenceBounds(patterns);
    const bool marked = !patterns.sequenceStarts.empty();
    double squares = 0.0;
    size_t scored = 0, scoredPatterns = 0, unknown = 0, skipped = 0, sequence = 0;
    for (size_t k = 0; k < patterns.inputs.size(); ++k) {
        if (k == bounds[sequence + 1]) ++sequence;
        if (marked && k == bounds[sequence]) ResetNetState(registered.Id());
        const size_t step = k - bounds[sequence], length = bounds[sequence + 1] - bounds[sequence];
        if (!PropagatePattern(registered.Id(), static_cast<int>(inSize), patterns.inputs[k].data(),
                              static_cast<int>(outSize), outputs.data())) {
            // Only the first step can fail: the readout does not fit the reservoir.
            std::fprintf(stderr,
                         "rcnet predict: %s cannot predict: its readout does not fit its reservoir "
                         "(never trained?)\n",
                         options.netFile.c_str());
            return kExitFailure;
        }
        if (k == 0) std::printf("%s\n", line.c_str());
        if (mapped) history.insert(history.end(), outputs.begin(), outputs.end());
        if (options.washout && step < static_cast<size_t>(*options.washout)) continue;  // stepped only
        const bool scoring = options.washout || step >= length / 10;
        line.clear();
        for (uint32_t i = 0; i < outSize; ++i) {
            if (i > 0) line += ',';
            AppendNumber(line, outputs[i]);
        }
        if (options.targets) {
            scoredPatterns += scoring ? 1 : 0;
            for (uint32_t i = 0; i < outSize; ++i) {
                const double target = patterns.targets[k][i];
                line += ',';
                AppendNumber(line, target);
                if (!scoring) {
                    ++skipped;
                } else if (!std::isfinite(target)) {
                    ++unknown;
                } else {
                    squares += (outputs[i] - target) * (outputs[i] - target);
                    ++scored;
                }
            }
        }
        std::printf("%s\n", line.c_str());
    }
    if (patterns.inputs.empty()) std::printf("%s\n", line.c_str());
    if (options.generate > 0) {
        // Closed loop: outputs only; the target columns stay empty.
        if (mapped && !FillKnownPast(taps, history, outSize, size_t(options.generate), inSize, future))
            return kExitUsage;
        const bool done =
            mapped
                ? GenerateNetMapped(registered.Id(), options.generate, static_cast<int>(taps.size() / 3),
                                    taps.data(), static_cast<int>(inSize), future.data(),
                                    static_cast<int>(outSize), generated.data())
                : GenerateNet(registered.Id(), options.generate, static_cast<int>(outSize), generated.data());
        if (!done) {
            std::fprintf(
                stderr, "rcnet predict: the library could not generate%s\n",
                mapped ? " (a value the loop reads is nan or infinite, or the readout does not fit)" : "");
            return kExitFailure;
        }
        for (int t = 0; t < options.generate; ++t) {
            line.clear();
            for (uint32_t i = 0; i < outSize; ++i) {
                if (i > 0) line += ',';
                AppendNumber(line, generated[static_cast<size_t>(t) * outSize + i]);
            }
            if (options.targets) line.append(outSize, ',');
            std::printf("%s\n", line.c_str());
        }
    }
    if (options.targets) {
        // What was scored, and what was not, is part of the figure.
        std::string left;
        if (skipped)
            left += ", " + std::to_string(skipped / outSize) +
                    " start-up patterns left out (--washout 0 scores them)";
        if (unknown) left += ", " + std::to_string(unknown) + " unknown targets left out";
        if (scored)
            std::fprintf(stderr, "RMSE: %.6g (%zu pattern%s, %u output%s%s)\n",
                         std::sqrt(squares / static_cast<double>(scored)), scoredPatterns,
                         scoredPatterns == 1 ? "" : "s", outSize, outSize == 1 ? "" : "s", left.c_str());
        else
            std::fprintf(stderr, "RMSE: none (no target scored%s)\n", left.c_str());
    }
    return kExitOk;
}

}  // namespace rcnet::tools
