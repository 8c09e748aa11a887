// rcnet check: whether the library accepts a network or pattern file, and where and why not (its reader
// says), and what in an accepted file looks wrong all the same, worked out from what the reader read.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "include/rcnet_inspect.h"
#include "tools/Commands.h"
#include "tools/Csv.h"
#include "tools/LibraryNet.h"
#include "tools/Precision.h"

namespace rcnet::tools {
namespace {

using inspect::TextPlace;

struct Warning {
    TextPlace at;
    std::string message;
};

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Warnings of one kind: the first few, and one line for the rest.
class Group {
public:
    explicit Group(std::string more) : m_More(std::move(more)) {}
    void Add(const TextPlace& at, std::string message) {
        if (m_Kept.size() < kKept) {
            m_Kept.push_back({at, std::move(message)});
        } else {
            ++m_Dropped;
        }
    }
    void MoveTo(std::vector<Warning>& out) {
        for (Warning& w : m_Kept) out.push_back(std::move(w));
        if (m_Dropped) out.push_back({m_Kept.back().at, std::to_string(m_Dropped) + " more " + m_More});
    }

private:
    static constexpr size_t kKept = 20;
    std::string m_More;
    std::vector<Warning> m_Kept;
    uint64_t m_Dropped = 0;
};

void Joined(const inspect::ReadNotes& notes, std::vector<Warning>& out) {
    for (const inspect::JoinedValues& j : notes.joined) {
        out.push_back({j.at, "'" + j.first + j.second + "' is read as two values, '" + j.first + "' and '" +
                                 j.second + "', with no white space between them"});
    }
    if (notes.joinedCount > notes.joined.size()) {
        out.push_back(
            {notes.joined.back().at, std::to_string(notes.joinedCount - notes.joined.size()) +
                                         " more places where values are not separated by white space"});
    }
}

// `what` names the values, then "is" or "are" follows.
void WarnNotFinite(uint64_t count, const char* what, const TextPlace& at, std::vector<Warning>& out) {
    if (count)
        out.push_back({at, Plural(count, "value", "values") + " of the " + what +
                               (count == 1 ? " is" : " are") + " not finite (inf or nan)"});
}

// Where the file's value number `index` (from 0, the header's first) starts: the pattern reader takes
// any white space between values.
TextPlace PlaceOfValue(const std::string& path, uint64_t index) {
    TextPlace place;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return place;
    uint64_t line = 1, column = 0, seen = 0;
    bool inValue = false;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        ++column;
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
        if (!blank && !inValue && seen++ == index) {
            place.line = line;
            place.column = column;
            break;
        }
        inValue = !blank;
        if (c == '\n') {
            ++line;
            column = 0;
        }
    }
    std::fclose(file);
    return place;
}

// The values that are not finite, at the first of them (its value number in the file: after the
// header's three, each pattern's inputs, then its targets).
void WarnPatternsNotFinite(const std::string& path, const inspect::PatternFileCheck& patterns, bool targets,
                           std::vector<Warning>& out) {
    const NotFiniteValues bad = FindNotFinite(targets ? patterns.targets : patterns.inputs);
    if (bad.count == 0) return;
    const uint64_t width = uint64_t{patterns.inputSize} + patterns.outputSize;
    const uint64_t first = 3 + bad.row * width + (targets ? patterns.inputSize : 0) + bad.column;
    WarnNotFinite(bad.count, targets ? "targets" : "inputs", PlaceOfValue(path, first), out);
}

const char* TypeName(int32_t type) {
    static const char* const kNames[] = {"sigmoid", "bipolar sigmoid", "rsdn", "linear"};
    return type >= 0 && type <= 3 ? kNames[type] : "unknown";
}

// The records and link lines as the file has them, against what the library makes of them.
void RecordWarnings(const inspect::ReadNotes& notes, std::vector<Warning>& out) {
    std::map<uint32_t, size_t> first;  // the library keeps the first record of an id
    Group repeated("neuron records repeat an id");
    for (size_t i = 0; i < notes.neurons.size(); ++i) {
        const auto [it, inserted] = first.emplace(notes.neurons[i].id, i);
        if (inserted) continue;
        const inspect::NeuronRecord& kept = notes.neurons[it->second];
        repeated.Add(notes.neurons[i].at,
                     "neuron record " + std::to_string(i + 1) + " repeats id " + std::to_string(kept.id) +
                         " of neuron record " + std::to_string(it->second + 1) + " (line " +
                         std::to_string(kept.at.line) + "): the library keeps the first record (" +
                         TypeName(kept.type) + ") and drops this one; its link lines still count");
    }
    repeated.MoveTo(out);

    Group unknown("link lines name neurons that no record defines");
    Group again("link lines repeat a link");
    Group elsewhere("link lines stand in another neuron's record");
    std::set<std::pair<uint32_t, uint32_t>> seen[2];
    for (const inspect::LinkLine& link : notes.links) {
        const std::string kind = link.back ? "back" : "forward";
        const std::string line =
            kind + " link " + std::to_string(link.source) + " -> " + std::to_string(link.target);
        if (!first.count(link.source) || !first.count(link.target)) {
            const bool source = !first.count(link.source);
            unknown.Add(link.at, line + ": no neuron has id " +
                                     std::to_string(source ? link.source : link.target) +
                                     "; the library skips the line" + (source ? " (and reports it)" : ""));
        } else if (!seen[link.back].emplace(link.source, link.target).second) {
            again.Add(link.at, line + " is given again; the library keeps the first weight");
        } else if (link.source != notes.neurons[link.record].id) {
            elsewhere.Add(link.at, line + " stands in the record of neuron " +
                                       std::to_string(notes.neurons[link.record].id) +
                                       "; the library links the neurons the line names");
        }
    }
    unknown.MoveTo(out);
    again.MoveTo(out);
    elsewhere.MoveTo(out);
}

// Shapes that do not fit the sizes and neurons, values the file form loses or cannot hold.
void ShapeWarnings(const inspect::NetworkFileCheck& check, std::vector<Warning>& out) {
    const inspect::ReadNotes& notes = check.notes;
    const inspect::Network& net = check.network;
    const uint64_t neurons = net.neurons.size();
    const std::string neuronCount =
        Plural(neurons, "neuron", "neurons") +
        (neurons != notes.neurons.size() ? " (" + std::to_string(notes.neurons.size()) + " records)" : "");
    const TextPlace readoutAt = notes.readout.at, inputAt = notes.inputMatrix.at;
    if (neurons == 0) out.push_back({readoutAt, "the reservoir has no neurons"});

    const uint64_t rows = notes.readout.rows, columns = notes.readout.columns;
    const uint64_t needed = neurons + (net.threshold ? 1 : 0);
    if (rows == 0 && net.outputs > 0) {
        out.push_back(
            {readoutAt,
             "the readout is empty: the network was never trained, and predicting with it is refused"});
    } else if (rows > 0 || net.outputs > 0) {
        const std::string has = "the readout has " + Plural(rows, "row", "rows") + " for " +
                                Plural(net.outputs, "output", "outputs");
        if (rows < net.outputs) out.push_back({readoutAt, has + ": predicting with the network is refused"});
        if (rows > net.outputs) out.push_back({readoutAt, has + ": the extra rows are unused"});
        const std::string fit = "readout rows have " + Plural(columns, "weight", "weights") + ", but " +
                                neuronCount + (net.threshold ? " and the threshold" : "") + " need " +
                                std::to_string(needed);
        if (columns < needed) out.push_back({readoutAt, fit + ": predicting with the network is refused"});
        if (columns > needed) out.push_back({readoutAt, fit + ": the extra weights are unused"});
    }
    // Large weights cancel each other: in a file of few digits the rounding shows.
    const std::string precision = ReadoutPrecisionWarning(net.readout);
    if (!precision.empty()) out.push_back({readoutAt, precision});

    if (notes.inputMatrix.rows != net.inputs) {
        out.push_back({inputAt, "the input matrix has " + Plural(notes.inputMatrix.rows, "row", "rows") +
                                    " for " + Plural(net.inputs, "input", "inputs") +
                                    " (the library reports every step)"});
    }
    // Without rows the header's column count means nothing, but a step still wants a row.
    if (notes.inputMatrix.rows == 0) {
        if (net.inputs == 0 && neurons > 0)
            out.push_back({inputAt, "the input matrix has no rows (the library reports every step)"});
    } else if (notes.inputMatrix.columns != neurons) {
        out.push_back({inputAt, "the input matrix has " +
                                    Plural(notes.inputMatrix.columns, "column", "columns") + " for " +
                                    neuronCount + " (the library reports every step)"});
    }
    uint64_t weights = 0;
    TextPlace firstWeight;
    for (const inspect::LinkLine& link : notes.links) {
        if (std::isfinite(link.weight)) continue;
        if (weights++ == 0) firstWeight = link.at;
    }
    WarnNotFinite(FindNotFinite(net.readout).count, "readout", readoutAt, out);
    WarnNotFinite(weights, "link weights", firstWeight, out);
    WarnNotFinite(FindNotFinite(net.inputMatrix).count, "input matrix", inputAt, out);
}

std::string NetworkSummary(const inspect::NetworkFileCheck& check) {
    const inspect::ReadNotes& notes = check.notes;
    const uint64_t back =
        std::count_if(notes.links.begin(), notes.links.end(), [](const auto& l) { return l.back; });
    return Plural(check.network.inputs, "input", "inputs") + ", " +
           Plural(check.network.outputs, "output", "outputs") + ", threshold " +
           (check.network.threshold ? "on" : "off") + ", " +
           Plural(notes.neurons.size(), "neuron record", "neuron records") + ", " +
           Plural(notes.links.size() - back, "forward link line", "forward link lines") + ", " +
           Plural(back, "back link line", "back link lines") + ", readout " +
           std::to_string(notes.readout.rows) + " x " + std::to_string(notes.readout.columns) +
           ", input matrix " + std::to_string(notes.inputMatrix.rows) + " x " +
           std::to_string(notes.inputMatrix.columns);
}

// Where the reader got to: the end of what it read, for an accepted text the start of what it left.
uint64_t Reached(const inspect::FileCheck& check, uint64_t size) {
    if (!check.accepted) return check.stop.at.offset;
    return check.notes.trailing ? check.notes.trailingAt.offset : size;
}

// A text the network reader accepts is a network file; one the pattern reader accepts is a pattern file
// unless it leaves more text unread than it read (a network file's header reads as a pattern file
// whose few patterns are soon over). Refused both ways: the reading that got further.
bool LooksLikeNetwork(const inspect::NetworkFileCheck& net, const inspect::PatternFileCheck& patterns,
                      uint64_t size) {
    if (net.accepted) return true;
    const uint64_t read = Reached(patterns, size);
    if (patterns.accepted) return size - read > read;
    return Reached(net, size) > read;
}

void Print(const std::string& file, const Warning& w, const char* label) {
    std::fprintf(stderr, "%s: line %llu, column %llu: %s%s\n", file.c_str(),
                 static_cast<unsigned long long>(w.at.line), static_cast<unsigned long long>(w.at.column),
                 label, w.message.c_str());
}

// A CSV file as train and predict read it: rows of numbers under an optional header.
int CheckCsv(const std::string& file) {
    CsvTable table;
    if (!ReadCsv(file, "check", table)) {
        std::printf("%s: refused as a CSV file\n", file.c_str());
        return kExitFailure;
    }
    const size_t columns = table.rows.empty() ? table.header.size() : table.rows[0].size();
    uint64_t unknown = 0;
    for (const std::vector<double>& row : table.rows)
        for (double v : row) unknown += std::isnan(v) ? 1 : 0;
    if (table.rows.empty()) std::fprintf(stderr, "%s: warning: the file holds no rows\n", file.c_str());
    if (unknown)
        std::fprintf(stderr,
                     "%s: warning: %s (nan or empty): predict refuses them as inputs, training as "
                     "anything\n",
                     file.c_str(), Plural(unknown, "value is unknown", "values are unknown").c_str());
    std::string header;
    for (const std::string& name : table.header) header += (header.empty() ? "" : ", ") + name;
    std::printf("%s: accepted as a CSV file: %s, %s%s\n", file.c_str(),
                Plural(columns, "column", "columns").c_str(),
                Plural(table.rows.size(), "row", "rows").c_str(),
                header.empty() ? " (no header)" : (" (header " + header + ")").c_str());
    return kExitOk;
}

}  // namespace

int RunCheck(const CheckOptions& options) {
    const std::string& file = options.file;
    if (IsCsv(file) && options.kind != "net") return CheckCsv(file);
    const bool guessed = options.kind.empty();
    inspect::NetworkFileCheck net;
    inspect::PatternFileCheck patterns;
    if (options.kind != "patterns") net = inspect::CheckNetworkFile(file);
    if (options.kind != "net") patterns = inspect::CheckPatternFile(file);
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(file, error);
    const bool network = guessed ? LooksLikeNetwork(net, patterns, error ? 0 : size) : options.kind == "net";
    const inspect::FileCheck& check = network ? static_cast<const inspect::FileCheck&>(net) : patterns;
    if (!check.opened) {
        std::fprintf(stderr, "rcnet check: cannot read %s: %s\n", file.c_str(), check.stop.reason.c_str());
        return kExitFailure;
    }

    std::vector<Warning> warnings;
    std::string summary;
    if (check.accepted && network) {
        if (net.notes.trailing)
            warnings.push_back({net.notes.trailingAt,
                                "text after the input matrix is ignored: '" + net.notes.trailingText + "'"});
        RecordWarnings(net.notes, warnings);
        ShapeWarnings(net, warnings);
        summary = NetworkSummary(net);
    } else if (check.accepted) {
        const uint64_t count = patterns.inputs.size();
        if (patterns.notes.trailing) {
            warnings.push_back({patterns.notes.trailingAt,
                                "text after the last of the " + std::to_string(count) +
                                    " announced patterns is ignored: '" + patterns.notes.trailingText + "'"});
        }
        if (count == 0) warnings.push_back({TextPlace{}, "the file holds no patterns: nothing to train on"});
        WarnPatternsNotFinite(file, patterns, false, warnings);
        WarnPatternsNotFinite(file, patterns, true, warnings);
        summary = Plural(patterns.inputSize, "input", "inputs") + ", " +
                  Plural(patterns.outputSize, "target", "targets") + ", " +
                  Plural(count, "pattern", "patterns");
        if (!patterns.sequenceStarts.empty())
            summary += " in " + Plural(SequenceBounds(patterns).size() - 1, "sequence", "sequences");
    }
    if (check.accepted) Joined(check.notes, warnings);
    std::stable_sort(warnings.begin(), warnings.end(), [](const Warning& a, const Warning& b) {
        return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
    });

    if (!check.accepted) Print(file, {check.stop.at, check.stop.reason}, "");
    for (const Warning& warning : warnings) Print(file, warning, "warning: ");
    const std::string as = std::string(network ? "network file" : "pattern file") +
                           (guessed ? " (guessed; --kind chooses)" : "");
    if (!check.accepted) {
        std::printf("%s: refused as a %s\n", file.c_str(), as.c_str());
        return kExitFailure;
    }
    std::printf("%s: accepted as a %s: %s", file.c_str(), as.c_str(), summary.c_str());
    if (!warnings.empty()) std::printf("; %s", Plural(warnings.size(), "warning", "warnings").c_str());
    std::printf("\n");
    return kExitOk;
}

}  // namespace rcnet::tools
