#include "tools/FileCheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "src/FileOps.h"

namespace rcnet::tools {
namespace {

// Warnings of one kind beyond this many are summed up in one line.
constexpr size_t kMaxWarningsPerKind = 20;

std::string Of(uint64_t i, uint64_t n) {
    return std::to_string(i) + " of " + std::to_string(n);
}

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Collects warnings of one kind, keeping the first few and counting the rest.
class WarningGroup {
public:
    explicit WarningGroup(std::string more) : m_More(std::move(more)) {}
    void Add(Position at, std::string message) {
        if (m_Kept.size() < kMaxWarningsPerKind) {
            m_Kept.push_back({at, std::move(message)});
        } else {
            ++m_Dropped;
        }
    }
    void MoveTo(std::vector<Diagnostic>& out) {
        for (Diagnostic& d : m_Kept) out.push_back(std::move(d));
        if (m_Dropped) out.push_back({m_Kept.back().at, std::to_string(m_Dropped) + " more " + m_More});
        m_Kept.clear();
        m_Dropped = 0;
    }

private:
    std::string m_More;
    std::vector<Diagnostic> m_Kept;
    uint64_t m_Dropped = 0;
};

// Counts values that are not finite, remembering the first.
struct NonFinite {
    uint64_t count = 0;
    size_t first = 0;
    void Note(double value, size_t offset) {
        if (std::isfinite(value)) return;
        if (count++ == 0) first = offset;
    }
};

void WarnNonFinite(const TextScanner& in, const NonFinite& values, const char* what,
                   std::vector<Diagnostic>& out) {
    if (values.count == 0) return;
    out.push_back({in.PositionOf(values.first), Plural(values.count, "value", "values") + " of the " + what +
                                                    (values.count == 1 ? " is" : " are") +
                                                    " not finite (inf or nan); the first is here"});
}

void AddJoinedWarnings(const TextScanner& in, std::vector<Diagnostic>& out) {
    const std::vector<Diagnostic>& joined = in.JoinedValues();
    for (const Diagnostic& d : joined) out.push_back(d);
    if (in.JoinedCount() > joined.size()) {
        out.push_back({joined.back().at, std::to_string(in.JoinedCount() - joined.size()) +
                                             " more places where values are not separated by white space"});
    }
}

void SortWarnings(std::vector<Diagnostic>& warnings) {
    std::stable_sort(warnings.begin(), warnings.end(), [](const Diagnostic& a, const Diagnostic& b) {
        return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
    });
}

// ---- network files ----

struct NeuronRecord {
    uint32_t id;
    int32_t type;
    size_t idOffset;
};

struct LinkLine {
    uint32_t source;
    uint32_t target;
    uint32_t record;  // index of the neuron record it stands in
    size_t offset;    // of its source id
    bool back;
};

const char* TypeName(int32_t type) {
    static const char* const kNames[] = {"sigmoid", "bipolar sigmoid", "rsdn", "linear"};
    return type >= 0 && type <= 3 ? kNames[type] : "unknown";
}

// A matrix as the library reads it: header "rows columns", refused when it announces more values than
// the rest of the file could hold, then rows x columns doubles.
struct MatrixShape {
    uint32_t rows = 0;
    uint32_t columns = 0;
    size_t offset = 0;  // of the header
};

bool ReadMatrixValues(TextScanner& in, const char* name, MatrixShape& shape, NonFinite& nonFinite) {
    const std::string title = name;
    if (!in.Count(shape.rows,
                  [&] { return "the number of rows of the " + title + " (its header's first value)"; }))
        return false;
    shape.offset = in.ValueOffset();
    if (!in.Count(shape.columns,
                  [&] { return "the number of columns of the " + title + " (its header's second value)"; }))
        return false;
    const uint64_t room = in.RemainingBytes();
    const uint64_t values = uint64_t{shape.rows} * shape.columns;
    // The library's bounds: every value needs a character and a separator; empty rows take no text, so
    // their number has a fixed limit.
    if (values > room / 2 + 1) {
        return in.RefuseAt(shape.offset,
                           "the " + title + " header announces " + std::to_string(shape.rows) + " x " +
                               std::to_string(shape.columns) + " values, more than the remaining " +
                               Plural(room, "byte", "bytes") +
                               " of the file can hold (the file ends before the announced content)");
    }
    if (shape.columns == 0 && shape.rows > kMaxEmptyRecords) {
        return in.RefuseAt(shape.offset, "the " + title + " header announces " + std::to_string(shape.rows) +
                                             " empty rows, more than the library accepts (" +
                                             std::to_string(kMaxEmptyRecords) + ")");
    }
    for (uint32_t r = 0; r < shape.rows; ++r) {
        for (uint32_t c = 0; c < shape.columns; ++c) {
            double value;
            if (!in.Double(value, [&] {
                    return "value " + Of(c + 1, shape.columns) + " of row " + Of(r + 1, shape.rows) +
                           " of the " + title;
                }))
                return false;
            nonFinite.Note(value, in.ValueOffset());
        }
    }
    return true;
}

bool ReadLinkLines(TextScanner& in, bool back, uint32_t recordIndex, uint32_t records, uint32_t id,
                   std::vector<LinkLine>& links, NonFinite& nonFinite) {
    const char* kind = back ? "back" : "forward";
    const auto record = [&] {
        return "neuron record " + Of(recordIndex + 1, records) + " (id " + std::to_string(id) + ")";
    };
    uint32_t count;
    if (!in.Count(count, [&] { return std::string("the number of ") + kind + " links of " + record(); }))
        return false;
    for (uint32_t j = 0; j < count; ++j) {
        const auto link = [&] { return std::string(kind) + " link " + Of(j + 1, count) + " of " + record(); };
        LinkLine line{0, 0, recordIndex, 0, back};
        double weight;
        if (!in.Count(line.source, [&] { return "the source id of " + link(); })) return false;
        line.offset = in.ValueOffset();
        if (!in.Double(weight, [&] { return "the weight of " + link(); })) return false;
        nonFinite.Note(weight, in.ValueOffset());
        if (!in.Count(line.target, [&] { return "the target id of " + link(); })) return false;
        links.push_back(line);
    }
    return true;
}

// What the library accepts without complaint but would not do what the file seems to mean.
void CheckNetworkContent(const TextScanner& in, uint32_t inputSize, uint32_t outputSize, bool threshold,
                         const MatrixShape& readout, const std::vector<NeuronRecord>& records,
                         const std::vector<LinkLine>& links, const MatrixShape& inputMatrix,
                         std::vector<Diagnostic>& out) {
    // The library keeps the first record of an id.
    std::map<uint32_t, size_t> firstRecord;
    WarningGroup repeatedIds("neuron records repeat an id");
    for (size_t i = 0; i < records.size(); ++i) {
        const auto [it, inserted] = firstRecord.emplace(records[i].id, i);
        if (inserted) continue;
        const NeuronRecord& first = records[it->second];
        repeatedIds.Add(in.PositionOf(records[i].idOffset),
                        "neuron record " + std::to_string(i + 1) + " repeats id " +
                            std::to_string(records[i].id) + " of neuron record " +
                            std::to_string(it->second + 1) + " (line " +
                            std::to_string(in.PositionOf(first.idOffset).line) +
                            "): the library keeps the first record (" + TypeName(first.type) +
                            ") and drops this one; its link lines still count");
    }
    repeatedIds.MoveTo(out);

    WarningGroup unknown("link lines name neurons that no record defines");
    WarningGroup repeatedLinks("link lines repeat a link");
    WarningGroup elsewhere("link lines stand in another neuron's record");
    std::set<std::pair<uint32_t, uint32_t>> seen[2];
    for (const LinkLine& link : links) {
        const char* kind = link.back ? "back" : "forward";
        const Position at = in.PositionOf(link.offset);
        const std::string arrow = std::to_string(link.source) + " -> " + std::to_string(link.target);
        if (!firstRecord.count(link.source)) {
            unknown.Add(at, std::string(kind) + " link " + arrow + ": no neuron has id " +
                                std::to_string(link.source) +
                                "; the library skips the line (and reports it)");
            continue;
        }
        if (!firstRecord.count(link.target)) {
            unknown.Add(at, std::string(kind) + " link " + arrow + ": no neuron has id " +
                                std::to_string(link.target) + "; the library skips the line");
            continue;
        }
        if (!seen[link.back].emplace(link.source, link.target).second) {
            repeatedLinks.Add(at, std::string(kind) + " link " + arrow +
                                      " is given again; the library keeps the first weight");
            continue;
        }
        if (link.source != records[link.record].id) {
            elsewhere.Add(at, std::string(kind) + " link " + arrow + " stands in the record of neuron " +
                                  std::to_string(records[link.record].id) +
                                  "; the library links the neurons the line names");
        }
    }
    unknown.MoveTo(out);
    repeatedLinks.MoveTo(out);
    elsewhere.MoveTo(out);

    const uint64_t neurons = firstRecord.size();
    const std::string neuronCount =
        Plural(neurons, "neuron", "neurons") +
        (neurons != records.size() ? " (" + std::to_string(records.size()) + " records)" : std::string());
    if (records.empty()) out.push_back({in.PositionOf(readout.offset), "the reservoir has no neurons"});

    const Position readoutAt = in.PositionOf(readout.offset);
    const uint64_t needed = neurons + (threshold ? 1 : 0);
    if (readout.rows == 0 && outputSize > 0) {
        out.push_back(
            {readoutAt,
             "the readout is empty: the network was never trained, and predicting with it is refused"});
    } else if (readout.rows > 0 || outputSize > 0) {
        if (readout.rows < outputSize) {
            out.push_back({readoutAt, "the readout has " + Plural(readout.rows, "row", "rows") + " for " +
                                          Plural(outputSize, "output", "outputs") +
                                          ": predicting with the network is refused"});
        } else if (readout.rows > outputSize) {
            out.push_back({readoutAt, "the readout has " + Plural(readout.rows, "row", "rows") + " for " +
                                          Plural(outputSize, "output", "outputs") +
                                          ": the extra rows are unused"});
        }
        const std::string fit = "readout rows have " + Plural(readout.columns, "weight", "weights") +
                                ", but " + neuronCount + (threshold ? " and the threshold" : "") + " need " +
                                std::to_string(needed);
        if (readout.columns < needed) {
            out.push_back({readoutAt, fit + ": predicting with the network is refused"});
        } else if (readout.columns > needed) {
            out.push_back({readoutAt, fit + ": the extra weights are unused"});
        }
    }

    const Position inputAt = in.PositionOf(inputMatrix.offset);
    if (inputMatrix.rows != inputSize) {
        out.push_back({inputAt, "the input matrix has " + Plural(inputMatrix.rows, "row", "rows") + " for " +
                                    Plural(inputSize, "input", "inputs") +
                                    " (the library reports every step)"});
    }
    // Without rows the header's column count means nothing, but a step still wants a row.
    if (inputMatrix.rows == 0) {
        if (inputSize == 0 && neurons > 0)
            out.push_back({inputAt, "the input matrix has no rows (the library reports every step)"});
    } else if (inputMatrix.columns != neurons) {
        out.push_back({inputAt, "the input matrix has " + Plural(inputMatrix.columns, "column", "columns") +
                                    " for " + neuronCount + " (the library reports every step)"});
    }
}

// ---- pattern files ----

bool ReadPatternValues(TextScanner& in, uint32_t count, const char* what, uint32_t pattern, uint32_t patterns,
                       NonFinite& nonFinite) {
    // The library's bound: every value needs a character and a separator.
    const uint64_t room = in.RemainingBytes();
    if (count > room / 2 + 1) {
        return in.RefuseAtNext("the file ends too early: pattern " + Of(pattern + 1, patterns) + " needs " +
                               std::to_string(count) + " " + what + " values, more than the remaining " +
                               Plural(room, "byte", "bytes") + " can hold");
    }
    for (uint32_t i = 0; i < count; ++i) {
        double value;
        if (!in.Double(value, [&] {
                return std::string(what) + " " + Of(i + 1, count) + " of pattern " +
                       Of(pattern + 1, patterns);
            }))
            return false;
        nonFinite.Note(value, in.ValueOffset());
    }
    return true;
}

bool IsWholeNumber(const std::string& token) {
    return !token.empty() && token.size() < 10 &&
           std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

const char* KindName(FileKind kind) {
    return kind == FileKind::Network ? "network file" : "pattern file";
}

CheckResult CheckNetworkText(std::string text) {
    CheckResult result;
    result.kind = FileKind::Network;
    TextScanner in(std::move(text));
    uint32_t inputSize = 0, outputSize = 0;
    bool threshold = false;
    MatrixShape readout, inputMatrix;
    NonFinite readoutValues, linkWeights, inputValues;
    std::vector<NeuronRecord> records;
    std::vector<LinkLine> links;
    uint32_t neurons = 0;

    bool ok = in.Count(inputSize, [] { return std::string("the input size (the file's first value)"); }) &&
              in.Count(outputSize, [] { return std::string("the output size (the file's second value)"); }) &&
              in.Flag(threshold,
                      [] { return std::string("the threshold flag, 0 or 1 (the file's third value)"); }) &&
              ReadMatrixValues(in, "readout", readout, readoutValues) &&
              in.Count(neurons, [] { return std::string("the number of neurons (after the readout)"); });
    for (uint32_t i = 0; ok && i < neurons; ++i) {
        const auto record = [&] { return "neuron record " + Of(i + 1, neurons); };
        NeuronRecord neuron{0, 0, 0};
        if (!in.Signed(neuron.type, [&] { return "the type of " + record(); })) break;
        if (neuron.type < 0 || neuron.type > 3) {
            ok = in.RefuseAt(in.ValueOffset(), in.QuoteRun(in.ValueOffset()) +
                                                   " is not a neuron type (expected the type of " + record() +
                                                   ": 0 sigmoid, 1 bipolar sigmoid, 2 rsdn or 3 linear)");
            break;
        }
        if (!in.Count(neuron.id, [&] { return "the id of " + record(); })) break;
        neuron.idOffset = in.ValueOffset();
        records.push_back(neuron);
        if (!ReadLinkLines(in, false, i, neurons, neuron.id, links, linkWeights) ||
            !ReadLinkLines(in, true, i, neurons, neuron.id, links, linkWeights))
            break;
    }
    ok = ok && !in.Failed() && ReadMatrixValues(in, "input matrix", inputMatrix, inputValues);
    if (!ok) {
        result.error = in.Error();
        return result;
    }

    result.accepted = true;
    result.inputs = inputSize;
    result.outputs = outputSize;
    Position trailingAt;
    std::string trailing;
    if (in.TrailingText(trailingAt, trailing))
        result.warnings.push_back({trailingAt, "text after the input matrix is ignored: " + trailing});
    AddJoinedWarnings(in, result.warnings);
    WarnNonFinite(in, readoutValues, "readout", result.warnings);
    WarnNonFinite(in, linkWeights, "link weights", result.warnings);
    WarnNonFinite(in, inputValues, "input matrix", result.warnings);
    CheckNetworkContent(in, inputSize, outputSize, threshold, readout, records, links, inputMatrix,
                        result.warnings);
    SortWarnings(result.warnings);

    uint64_t forward = 0;
    for (const LinkLine& link : links) forward += link.back ? 0 : 1;
    result.summary = Plural(inputSize, "input", "inputs") + ", " + Plural(outputSize, "output", "outputs") +
                     ", threshold " + (threshold ? "on" : "off") + ", " +
                     Plural(records.size(), "neuron record", "neuron records") + ", " +
                     Plural(forward, "forward link line", "forward link lines") + ", " +
                     Plural(links.size() - forward, "back link line", "back link lines") + ", readout " +
                     std::to_string(readout.rows) + " x " + std::to_string(readout.columns) +
                     ", input matrix " + std::to_string(inputMatrix.rows) + " x " +
                     std::to_string(inputMatrix.columns);
    return result;
}

CheckResult CheckPatternText(std::string text) {
    CheckResult result;
    result.kind = FileKind::Patterns;
    TextScanner in(std::move(text));
    uint32_t inputSize = 0, outputSize = 0, count = 0;
    NonFinite inputs, targets;
    bool ok = in.Count(inputSize, [] { return std::string("the input size (the file's first value)"); }) &&
              in.Count(outputSize, [] { return std::string("the output size (the file's second value)"); }) &&
              in.Count(count, [] { return std::string("the number of patterns (the file's third value)"); });
    const size_t countOffset = in.ValueOffset();
    const uint64_t width = uint64_t{inputSize} + outputSize;
    // Patterns without values take no text, so their number has a fixed limit in the library.
    if (ok && width == 0 && count > kMaxEmptyRecords) {
        ok = in.RefuseAt(countOffset, "the header announces " + std::to_string(count) +
                                          " patterns without values, more than the library accepts (" +
                                          std::to_string(kMaxEmptyRecords) + ")");
    }
    for (uint32_t k = 0; ok && k < count; ++k) {
        ok = ReadPatternValues(in, inputSize, "input", k, count, inputs) &&
             ReadPatternValues(in, outputSize, "target", k, count, targets);
    }
    if (!ok) {
        result.error = in.Error();
        return result;
    }

    result.accepted = true;
    result.inputs = inputSize;
    result.outputs = outputSize;
    result.patterns = count;
    Position trailingAt;
    std::string trailing;
    if (in.TrailingText(trailingAt, trailing)) {
        result.warnings.push_back({trailingAt, "text after the last of the " + std::to_string(count) +
                                                   " announced patterns is ignored: " + trailing});
    }
    if (count == 0)
        result.warnings.push_back(
            {in.PositionOf(countOffset), "the file holds no patterns: nothing to train on"});
    AddJoinedWarnings(in, result.warnings);
    WarnNonFinite(in, inputs, "inputs", result.warnings);
    WarnNonFinite(in, targets, "targets", result.warnings);
    SortWarnings(result.warnings);
    result.summary = Plural(inputSize, "input", "inputs") + ", " + Plural(outputSize, "target", "targets") +
                     ", " + Plural(count, "pattern", "patterns");
    return result;
}

FileKind GuessFileKind(const std::string& text) {
    // The first five blank-separated tokens, how many there are in all, and the tokens of line 2.
    std::vector<std::string> head, secondLine;
    uint64_t tokens = 0, line = 1;
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    for (size_t i = 0; i < text.size();) {
        while (i < text.size() && isSpace(text[i])) line += text[i++] == '\n';
        if (i >= text.size()) break;
        const size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (head.size() < 5) head.push_back(text.substr(start, i - start));
        if (line == 2) secondLine.push_back(text.substr(start, i - start));
        ++tokens;
    }
    if (head.size() >= 3 && IsWholeNumber(head[0]) && IsWholeNumber(head[1]) && IsWholeNumber(head[2])) {
        // As a pattern file it holds 3 + count x (inputs + outputs) values. A network file (whose third
        // value is the flag) goes on well beyond that, with the readout header's two whole numbers next.
        const uint64_t patternValues =
            3 + std::stoull(head[2]) * (std::stoull(head[0]) + std::stoull(head[1]));
        const bool readoutHeader = head.size() == 5 && IsWholeNumber(head[3]) && IsWholeNumber(head[4]);
        return tokens > patternValues && readoutHeader ? FileKind::Network : FileKind::Patterns;
    }
    // A garbled header: a network file's second line is the readout header, two whole numbers.
    const bool readoutHeader =
        secondLine.size() == 2 && IsWholeNumber(secondLine[0]) && IsWholeNumber(secondLine[1]);
    return readoutHeader ? FileKind::Network : FileKind::Patterns;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        error = "not a regular file";
        return false;
    }
    text.clear();
    char buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "read error";
        return false;
    }
    return true;
}

}  // namespace rcnet::tools
