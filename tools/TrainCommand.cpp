// rcnet train: builds a reservoir, trains its readout on a pattern file and saves the network, all
// through the library's exports.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "tools/Commands.h"
#include "tools/Csv.h"
#include "tools/LibraryNet.h"
#include "tools/Progress.h"

namespace rcnet::tools {
namespace {

// Ordered pairs of neurons, each a possible link (--neurons is at most 32768, all drawable).
uint64_t LinkPairs(int neurons) {
    return static_cast<uint64_t>(neurons) * static_cast<uint64_t>(neurons);
}

bool SizeAgrees(const char* option, const std::optional<int>& given, uint32_t header, const char* what) {
    if (!given || static_cast<uint32_t>(*given) == header) return true;
    std::fprintf(stderr, "rcnet train: %s %d does not match the pattern file's %s (%u)\n", option, *given,
                 what, header);
    return false;
}

// A whole option value as a number, or nothing.
std::optional<double> NumberIn(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// The square root of the inputs' variance averaged over inputs: what --input-scaling is relative to.
// 1 where they do not vary.
double InputSpread(const std::vector<inspect::PatternFileCheck>& files, uint32_t inputs) {
    std::vector<double> sums(inputs, 0.0), squares(inputs, 0.0);
    double rows = 0;
    for (const inspect::PatternFileCheck& file : files)
        for (const std::vector<double>& row : file.inputs) {
            for (uint32_t i = 0; i < inputs; ++i) sums[i] += row[i];
            rows += 1;
        }
    double variance = 0;
    for (uint32_t i = 0; i < inputs; ++i) {
        const double mean = sums[i] / rows;
        for (const inspect::PatternFileCheck& file : files)
            for (const std::vector<double>& row : file.inputs)
                squares[i] += (row[i] - mean) * (row[i] - mean);
        variance += squares[i] / rows;
    }
    const double spread = inputs > 0 && rows > 0 ? std::sqrt(variance / inputs) : 0.0;
    return spread > 0 && std::isfinite(spread) ? spread : 1.0;
}

void RCNET_CALL ShowFraction(int, double fraction, void* progress) {
    static_cast<Progress*>(progress)->Fraction(fraction);
}

// A CSV file's rows as patterns: the inputs, then the targets. A header names the targets' columns
// (those from the first whose name starts with "target", as `rcnet predict --targets` writes them);
// without one, or with none so named, --inputs or --outputs says where the targets start.
bool ReadCsvPatterns(const std::string& file, const TrainOptions& options, inspect::PatternFileCheck& check) {
    CsvTable table;
    if (!ReadCsv(file, "train", table)) return false;
    const size_t width = !table.rows.empty() ? table.rows[0].size() : table.header.size();
    size_t split = width;
    for (size_t k = 0; k < table.header.size() && split == width; ++k)
        if (table.header[k].rfind("target", 0) == 0) split = k;
    // No header, or one that names no target column: the options say where the targets start.
    if (split == width && options.inputs) {
        split = size_t(*options.inputs);
    } else if (split == width && options.outputs) {
        split = width - std::min(width, size_t(*options.outputs));
    }
    if (split == 0 || split >= width) {
        std::fprintf(
            stderr,
            "rcnet train: %s: which columns are targets? Name them target0, target1, ... in a header "
            "line, or give --inputs\n",
            file.c_str());
        return false;
    }
    check.accepted = true;
    check.inputSize = static_cast<uint32_t>(split);
    check.outputSize = static_cast<uint32_t>(width - split);
    for (const std::vector<double>& row : table.rows) {
        check.inputs.emplace_back(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(split));
        check.targets.emplace_back(row.begin() + static_cast<std::ptrdiff_t>(split), row.end());
    }
    return true;
}

bool AddRows(int id, const inspect::PatternFileCheck& patterns) {
    std::vector<double> ins, targets;
    for (size_t p = 0; p < patterns.inputs.size(); ++p) {
        ins.insert(ins.end(), patterns.inputs[p].begin(), patterns.inputs[p].end());
        targets.insert(targets.end(), patterns.targets[p].begin(), patterns.targets[p].end());
    }
    return AddPatternsToNet(id, static_cast<int>(patterns.inputs.size()),
                            static_cast<int>(patterns.inputSize), ins.data(),
                            static_cast<int>(patterns.outputSize), targets.data()) != 0;
}

}  // namespace

// Values that cannot train: one NaN or infinity makes the whole readout worthless. False after saying
// where the first one is.
bool AllFinite(const char* file, const std::vector<std::vector<double>>& rows, const char* what) {
    const NotFiniteValues bad = FindNotFinite(rows);
    if (bad.count)
        std::fprintf(
            stderr,
            "rcnet train: %s has %llu %s values that are NaN or infinite (the first in pattern %zu): "
            "no readout can be trained on them; nothing written\n",
            file, static_cast<unsigned long long>(bad.count), what, bad.row + 1);
    return bad.count == 0;
}

// The same file by path or by identity (another spelling, a link).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return a == b || std::filesystem::equivalent(a, b, error);
}

// The library itself reports a readout that came out all zero or not finite, with the cause; where the
// cause is the states, say what helps in this tool's terms, leaving out what is in use already.
void AdviseOnReadout(const TrainOptions& options, const std::optional<double>& radius) {
    char reports[8192];
    if (!GetLastReport(reports, sizeof reports) ||
        !std::strstr(reports, "the states did not fit the targets"))
        return;
    std::string advice;
    const auto add = [&](const char* text) { advice += (advice.empty() ? "" : ", ") + std::string(text); };
    constexpr int kLinear = 3;
    if (options.type == kLinear && radius && *radius >= 1)
        add("a --spectral-radius below 1 (linear neurons grow without bound at 1 and above)");
    if (options.solver != 1) add("--solver stable");
    if (options.ridge != "auto") add("a larger --ridge");
    add("a larger --input-scaling");
    std::fprintf(stderr,
                 "rcnet train: warning: every weight of an output's readout is 0: the states did not fit the "
                 "targets (try %s)\n",
                 advice.c_str());
}

int RunTrain(const TrainOptions& options) {
    const int backConnections = options.backConnections.value_or(static_cast<int>(std::min<uint64_t>(
        uint64_t{5} * static_cast<uint64_t>(options.neurons), LinkPairs(options.neurons))));
    const int connections = options.connections.value_or(static_cast<int>(std::min<uint64_t>(
        uint64_t{5} * static_cast<uint64_t>(options.neurons), LinkPairs(options.neurons))));
    if (connections == 0) {
        std::fprintf(
            stderr,
            "rcnet train: warning: --connections 0: the inputs reach no neuron (a state sums its forward "
            "links' terms of the input), so the readout can only fit a constant\n");
    }
    // The library would refuse these with a report and go on with fewer links; say so before any work.
    if (static_cast<uint64_t>(connections) > LinkPairs(options.neurons)) {
        std::fprintf(stderr, "rcnet train: --connections %d exceeds the %llu possible links of %d neurons\n",
                     connections, static_cast<unsigned long long>(LinkPairs(options.neurons)),
                     options.neurons);
        return kExitUsage;
    }
    if (static_cast<uint64_t>(backConnections) > LinkPairs(options.neurons)) {
        std::fprintf(
            stderr, "rcnet train: --back-connections %d exceeds the %llu possible links of %d neurons\n",
            backConnections, static_cast<unsigned long long>(LinkPairs(options.neurons)), options.neurons);
        return kExitUsage;
    }

    // The default radius applies where there are back links to scale; one asked for needs them.
    std::optional<double> radius = backConnections > 0 ? std::optional<double>(1.2) : std::nullopt;
    if (options.spectralRadius) {
        radius = *options.spectralRadius == "none" ? std::nullopt : NumberIn(*options.spectralRadius);
        if (*options.spectralRadius != "none" && !(radius && *radius > 0)) {
            std::fprintf(stderr, "rcnet train: --spectral-radius must be a number above 0, or none\n");
            return kExitUsage;
        }
        if (radius && backConnections == 0) {
            std::fprintf(stderr,
                         "rcnet train: --spectral-radius scales the back links: give --back-connections\n");
            return kExitUsage;
        }
    }
    const bool autoRidge = options.ridge == "auto";
    const std::optional<double> ridge = autoRidge ? std::optional<double>(0.0) : NumberIn(options.ridge);
    if (!ridge || *ridge < 0) {
        std::fprintf(stderr, "rcnet train: --ridge must be auto or a number of at least 0\n");
        return kExitUsage;
    }
    if (!(options.leakRate > 0)) {
        std::fprintf(stderr, "rcnet train: --leak-rate must be above 0 (1 is the plain step)\n");
        return kExitUsage;
    }
    if (options.digits != 0 && (options.digits < 6 || options.digits > 17)) {
        std::fprintf(stderr, "rcnet train: --digits must be 0 (exact) or 6 to 17\n");
        return kExitUsage;
    }
    if (!std::isfinite(options.inputScaling)) {
        std::fprintf(stderr, "rcnet train: --input-scaling must be a finite number\n");
        return kExitUsage;
    }
    if (!std::isfinite(options.biasScaling)) {
        std::fprintf(stderr, "rcnet train: --bias-scaling must be a finite number\n");
        return kExitUsage;
    }

    for (const std::string& file : options.patternFiles) {
        if (SameFile(file, options.outFile)) {
            std::fprintf(stderr,
                         "rcnet train: --out %s would overwrite the training data: choose another name\n",
                         options.outFile.c_str());
            return kExitUsage;
        }
    }
    const std::filesystem::path directory = std::filesystem::path(options.outFile).parent_path();
    std::error_code error;
    if (!directory.empty() && !std::filesystem::is_directory(directory, error)) {
        std::fprintf(stderr, "rcnet train: cannot write %s: there is no directory %s\n",
                     options.outFile.c_str(), directory.string().c_str());
        return kExitFailure;
    }

    const auto start = std::chrono::steady_clock::now();
    Progress progress;
    progress.Phase("checking the pattern files");
    // The library's reader gives the sizes, or the place and reason of a refusal. Several files are
    // several sequences: each starts from zero states and has its own washout.
    uint32_t inputs = 0, outputs = 0, longest = 0, shortest = UINT32_MAX, count = 0, sequenceCount = 0;
    std::vector<inspect::PatternFileCheck> checked;  // every file's patterns, by file
    checked.reserve(options.patternFiles.size());
    for (size_t f = 0; f < options.patternFiles.size(); ++f) {
        const std::string& file = options.patternFiles[f];
        inspect::PatternFileCheck check;
        if (IsCsv(file)) {
            if (!ReadCsvPatterns(file, options, check)) {
                progress.Finish();
                return kExitFailure;
            }
        } else {
            check = inspect::CheckPatternFile(file);
            if (!check.accepted) {
                progress.Finish();
                PrintRefusal("train", file, check);
                return kExitFailure;
            }
        }
        if (check.inputSize == 0) {
            progress.Finish();
            std::fprintf(stderr,
                         "rcnet train: %s has no inputs per pattern: a reservoir needs at least one input "
                         "to be driven\n",
                         file.c_str());
            return kExitFailure;
        }
        if (f == 0) {
            inputs = check.inputSize;
            outputs = check.outputSize;
        } else if (check.inputSize != inputs || check.outputSize != outputs) {
            progress.Finish();
            std::fprintf(stderr, "rcnet train: %s has %u inputs and %u targets per pattern, %s %u and %u\n",
                         file.c_str(), check.inputSize, check.outputSize, options.patternFiles[0].c_str(),
                         inputs, outputs);
            return kExitFailure;
        }
        if (check.inputs.empty()) {
            progress.Finish();
            std::fprintf(stderr, "rcnet train: %s holds no patterns: nothing to train on\n", file.c_str());
            return kExitFailure;
        }
        // A file's own sequences record splits it further, each part with its own washout too.
        const std::vector<size_t> bounds = SequenceBounds(check);
        for (size_t s = 0; s + 1 < bounds.size(); ++s) {
            longest = std::max(longest, static_cast<uint32_t>(bounds[s + 1] - bounds[s]));
            shortest = std::min(shortest, static_cast<uint32_t>(bounds[s + 1] - bounds[s]));
            ++sequenceCount;
        }
        if (!AllFinite(file.c_str(), check.inputs, "input") ||
            !AllFinite(file.c_str(), check.targets, "target")) {
            progress.Finish();
            return kExitFailure;
        }
        count += static_cast<uint32_t>(check.inputs.size());
        checked.push_back(std::move(check));
    }
    progress.Finish();
    if (!SizeAgrees("--inputs", options.inputs, inputs, "input size") ||
        !SizeAgrees("--outputs", options.outputs, outputs, "output size"))
        return kExitUsage;
    const int washout = options.washout.value_or(static_cast<int>(shortest / 10));
    if (static_cast<uint32_t>(washout) >= longest) {
        std::fprintf(stderr, "rcnet train: --washout %d leaves none of the %u patterns%s to fit\n", washout,
                     longest, sequenceCount > 1 ? " of the longest sequence" : "");
        return kExitUsage;
    }
    // Only an unpenalised fit can match fewer patterns than weights exactly; a ridge keeps it general.
    if (!autoRidge && *ridge == 0 &&
        count - std::min<uint32_t>(count, static_cast<uint32_t>(washout) * sequenceCount) <
            static_cast<uint32_t>(options.neurons) + 1) {
        std::fprintf(
            stderr,
            "rcnet train: warning: fewer patterns to fit than readout weights (%d neurons) and no ridge: "
            "the fit can match the data exactly and predict nothing else\n",
            options.neurons);
    }

    progress.Phase("building the reservoir");
    Randomize(options.seed);
    RegisteredNet net(inputs, outputs, options.threshold);
    const int id = net.Id();
    if (!net.Ok() || !AddNeuronsToNet(id, options.neurons, options.type) ||
        !AddRandomConnectionsToNet(id, connections) || !AddRandomBackConnectionsToNet(id, backConnections) ||
        !InitNetInputMatrix(id, static_cast<int>(inputs)) ||
        // Drawn last, as the estimator draws it: the rest is the reservoir without a bias.
        (options.biasScaling != 0 && !InitNetBias(id, &options.biasScaling))) {
        progress.Finish();
        std::fprintf(stderr, "rcnet train: the library could not build the reservoir\n");
        return kExitFailure;
    }
    // Back links that form no cycle have radius 0 and nothing to scale: the default leaves them.
    double drawnRadius = 0;
    if (radius && !options.spectralRadius && GetNetSpectralRadius(id, &drawnRadius) && drawnRadius == 0)
        radius.reset();
    if (radius && !SetNetSpectralRadius(id, &*radius)) {
        progress.Finish();
        std::fprintf(stderr,
                     "rcnet train: the back links cannot be scaled to radius %g (they form no cycle)\n",
                     *radius);
        return kExitFailure;
    }
    const double inputScale = options.absoluteInputScaling
                                  ? options.inputScaling
                                  : options.inputScaling / InputSpread(checked, inputs);
    if ((inputScale != 1 && inputs > 0 && !SetNetInputScaling(id, &inputScale)) ||
        !SetNetLeakRate(id, &options.leakRate)) {
        progress.Finish();
        std::fprintf(stderr, "rcnet train: the library refused the reservoir settings\n");
        return kExitFailure;
    }

    progress.Phase("reading the patterns");
    const bool sequences = options.patternFiles.size() > 1;
    for (size_t f = 0; f < options.patternFiles.size(); ++f) {
        const std::string& file = options.patternFiles[f];
        // A pattern file goes through the library's own reader; CSV rows as they were read.
        if ((sequences && !MarkNetSequenceStart(id)) ||
            !(IsCsv(file) ? AddRows(id, checked[f]) : AddPatternsFromFile(id, file.c_str()))) {
            progress.Finish();
            std::fprintf(stderr, "rcnet train: the library could not read %s\n", file.c_str());
            return kExitFailure;
        }
    }

    double chosenRidge = *ridge;
    if (!SetNetReadoutSolver(id, options.solver) || !SetNetWashout(id, washout) ||
        !SetNetRegularization(id, &chosenRidge)) {
        progress.Finish();
        std::fprintf(stderr, "rcnet train: the library refused the readout settings\n");
        return kExitFailure;
    }
    if (autoRidge) {
        progress.Phase("choosing the ridge");
        if (!ChooseNetRegularization(id, &chosenRidge)) {
            progress.Finish();
            std::fprintf(stderr, "rcnet train: the ridge could not be chosen (give --ridge)\n");
            return kExitFailure;
        }
    }
    progress.Phase("training the readout");
    SetNetProgress(id, ShowFraction, &progress);
    if (!(options.jointly ? LearnNetJointly(id) : LearnNet(id))) {
        progress.Finish();
        std::fprintf(stderr, "rcnet train: training failed\n");
        return kExitFailure;
    }

    AdviseOnReadout(options, radius);

    progress.Phase("saving");
    // The library's own reason for a failed save ("PATH: cannot be saved: REASON") is passed on, not
    // its report lines.
    SetReportEcho(0);
    const bool saved = SetNetFilePrecision(id, options.digits) && SaveNetToFile(id, options.outFile.c_str());
    char reason[1024] = "";
    if (!saved && !(GetLastFileError(reason, sizeof reason) && *reason)) GetLastReport(reason, sizeof reason);
    SetReportEcho(1);
    if (!saved) {
        progress.Finish();
        reason[std::strcspn(reason, "\n")] = '\0';
        if (std::strncmp(reason, options.outFile.c_str(), options.outFile.size()) == 0 &&
            std::strncmp(reason + options.outFile.size(), ": ", 2) == 0)
            std::fprintf(stderr, "rcnet train: %s\n", reason);
        else
            std::fprintf(stderr, "rcnet train: cannot write %s%s%s%s\n", options.outFile.c_str(),
                         *reason ? " (" : "", reason, *reason ? ")" : "");
        return kExitFailure;
    }
    progress.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "%s: %d neurons, %d forward and %d back links, trained on %u patterns%s with ridge %g%s in "
        "%.1f s\n",
        options.outFile.c_str(), options.neurons, connections, backConnections, count,
        sequenceCount > 1 ? (" (" + std::to_string(sequenceCount) + " sequences)").c_str() : "", chosenRidge,
        autoRidge ? " (chosen)" : "", seconds);
    return kExitOk;
}

}  // namespace rcnet::tools
