// The checker must accept exactly the files the library accepts: every file here, good, broken or
// garbled, goes both to the checker and to LoadNetFromFile / AddPatternsFromFile, and the verdicts must
// be the same. The files are the fixtures, every prefix of the good ones, every value of them replaced by
// troublesome text, inserted characters, random bytes, and overlong values placed around the library
// reader's buffer boundaries.
//
// Usage: rcnet_cli_agreement_test DATA_DIR WORK_DIR [--quick]
// --quick: every third mutation and fewer long values, for the sanitizer builds.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/FileOps.h"
#include "src/Report.h"
#include "tools/FileCheck.h"

using rcnet::tools::CheckNetworkText;
using rcnet::tools::CheckPatternText;
using rcnet::tools::CheckResult;

namespace {

enum class Kind { Network, Patterns };

std::string g_Work;
int g_Cases = 0, g_Accepted = 0, g_Mismatches = 0;
size_t g_Stride = 1;  // mutations: every g_Stride-th

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool LibraryLoadsNetwork(const std::string& path) {
    RegisterUsage(1, 0, 0, 0);
    const bool ok = LoadNetFromFile(1, path.c_str()) == 1;
    UnregisterUsage(1);
    return ok;
}

// A network of the file's own sizes (read as the library reads them), so that only the file decides.
bool LibraryReadsPatterns(const std::string& path, const std::string& text) {
    rcnet::TextReader header(text);
    uint32_t inputs = 0, outputs = 0;
    header.Count(inputs) && header.Count(outputs);
    RegisterUsage(2, static_cast<int>(inputs), static_cast<int>(outputs), 1);
    const bool ok = AddPatternsFromFile(2, path.c_str()) == 1;
    UnregisterUsage(2);
    return ok;
}

void Compare(Kind kind, const std::string& name, const std::string& text) {
    const std::string path = g_Work + "/case.txt";
    WriteFile(path, text);
    const CheckResult check = kind == Kind::Network ? CheckNetworkText(text) : CheckPatternText(text);
    const bool library = kind == Kind::Network ? LibraryLoadsNetwork(path) : LibraryReadsPatterns(path, text);
    ++g_Cases;
    g_Accepted += library ? 1 : 0;
    if (check.accepted == library) return;
    ++g_Mismatches;
    std::printf("MISMATCH %s %s: checker %s, library %s\n", kind == Kind::Network ? "network" : "patterns",
                name.c_str(), check.accepted ? "accepts" : "refuses", library ? "accepts" : "refuses");
    if (!check.accepted)
        std::printf("  checker: line %llu, column %llu: %s\n",
                    static_cast<unsigned long long>(check.error.at.line),
                    static_cast<unsigned long long>(check.error.at.column), check.error.message.c_str());
    if (g_Mismatches == 1) WriteFile(g_Work + "/first-mismatch.txt", text);
}

struct Token {
    size_t begin, end;
};

std::vector<Token> Tokens(const std::string& text) {
    std::vector<Token> tokens;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    for (size_t i = 0; i < text.size();) {
        while (i < text.size() && space(text[i])) ++i;
        if (i >= text.size()) break;
        const size_t begin = i;
        while (i < text.size() && !space(text[i])) ++i;
        tokens.push_back({begin, i});
    }
    return tokens;
}

void Mutations(Kind kind, const std::string& name, const std::string& text) {
    Compare(kind, name, text);
    for (size_t length = 0; length < text.size(); length += g_Stride)
        Compare(kind, name + " cut at " + std::to_string(length), text.substr(0, length));

    static const char* const kReplacements[] = {
        "x",    "",     "1.5",    "-1",      "-0",  "+2",  "2",          "3",          "4",        "7",
        "0",    "1",    "1e999",  "-1e-999", "+-1", "++1", "4294967295", "4294967296", "99999",    "nan",
        "inf",  "-inf", "0x1A",   "1e",      "1.",  ".5",  "5.",         "1,5",        "\xD9\xA1", "\x01",
        "12ab", "3-2",  "0.5e-3", "1E+2",    "-",   "+",   "infinity",   "nan(1)"};
    const std::vector<Token> tokens = Tokens(text);
    for (size_t t = 0; t < tokens.size(); t += g_Stride) {
        for (const char* replacement : kReplacements) {
            std::string mutated = text.substr(0, tokens[t].begin) + replacement + text.substr(tokens[t].end);
            Compare(kind, name + " value " + std::to_string(t + 1) + " -> '" + replacement + "'", mutated);
        }
    }

    static const char* const kInsertions[] = {" ", "\n", "x", "-", ".", "e", "+", "0"};
    for (size_t at = 0; at <= text.size(); at += 7 * g_Stride) {
        for (const char* insertion : kInsertions) {
            Compare(kind, name + " insert '" + insertion + "' at " + std::to_string(at),
                    text.substr(0, at) + insertion + text.substr(at));
        }
    }
}

// A fixed sequence, so that the random files are the same on every run.
class Lcg {
public:
    uint32_t Next() {
        m_State = m_State * 1103515245u + 12345u;
        return m_State >> 8;
    }

private:
    uint32_t m_State = 20240611u;
};

void RandomFiles() {
    Lcg random;
    static const char* const kWords[] = {"0", "1", "2", "3", "-1", "0.5", "1e-3", "x", "4", "10", "nan", "7"};
    for (int i = 0; i < 200; ++i) {
        std::string text;
        const uint32_t length = random.Next() % 60;
        for (uint32_t k = 0; k < length; ++k) {
            text += kWords[random.Next() % (sizeof kWords / sizeof *kWords)];
            text += random.Next() % 4 ? " " : "\n";
        }
        Compare(Kind::Network, "word soup " + std::to_string(i), text);
        Compare(Kind::Patterns, "word soup " + std::to_string(i), text);
    }
    for (int i = 0; i < 50; ++i) {
        std::string text;
        const uint32_t length = random.Next() % 200;
        for (uint32_t k = 0; k < length; ++k) text += static_cast<char>(random.Next() & 0xFF);
        Compare(Kind::Network, "random bytes " + std::to_string(i), text);
        Compare(Kind::Patterns, "random bytes " + std::to_string(i), text);
    }
}

// The library reads through a 64 KiB buffer and refuses a value cut by its end while the file goes on.
// Values of about that size, or of the 4 KiB look-ahead, placed so that they start at many distances
// from a refill, must get the same verdict from the checker.
void LongValues() {
    const size_t lengths[] = {4095, 4097, 61440, 65535, 65537};
    const size_t before[] = {0, 2047, 30719, 32000};
    for (size_t length : lengths) {
        const std::string number = std::string(length - 3, '0') + "1.5";  // 1.5, whatever its length
        const std::string count = std::string(length - 1, '0') + "1";
        for (size_t values : before) {
            if (g_Stride > 1 && values % 2 == 1) continue;
            for (bool more : {false, true}) {
                // `values` short values ("0\n", two bytes each) before the long one, then optionally
                // enough text that the file does not end within the buffer.
                std::string body;
                for (size_t v = 0; v < values; ++v) body += "0\n";
                std::string tail = more ? "\n" + std::string(70000, ' ') + "0\n" : "\n";
                const std::string name = std::to_string(length) + "-byte value after " +
                                         std::to_string(values) + " values" + (more ? ", file goes on" : "");
                Compare(Kind::Patterns, "double " + name,
                        "1 0 " + std::to_string(values + 1 + (more ? 1 : 0)) + "\n" + body + number + tail);
                Compare(Kind::Patterns, "spaces then double " + name,
                        "1 0 1\n" + std::string(2 * values, ' ') + number + tail);
                Compare(Kind::Patterns, "count " + name, "1 0 " + count + "\n" + body + tail);
                Compare(Kind::Network, "neuron count " + name,
                        "0 0 0\n0 0\n" + std::string(2 * values, ' ') + std::string(length, '0') + "\n0 0\n" +
                            tail);
                Compare(Kind::Network, "readout weight " + name,
                        "0 1 0\n1 1\n" + std::string(2 * values, ' ') + number + "\n0\n0 0\n" + tail);
            }
        }
    }
}

// Announced sizes far beyond the file: refused before anything is allocated.
void Announcements() {
    Compare(Kind::Network, "huge readout", "1 1 1\n100000 100000\n1 2 3\n");
    Compare(Kind::Network, "huge empty readout rows", "1 1 1\n4000000000 0\n0\n0 0\n");
    Compare(Kind::Network, "many empty readout rows", "1 1 1\n1000 0\n0\n0 0\n");
    Compare(Kind::Network, "empty readout rows at the limit",
            "1 1 1\n" + std::to_string(rcnet::kMaxEmptyRecords) + " 0\n0\n0 0\n");
    Compare(Kind::Network, "empty readout rows over the limit",
            "1 1 1\n" + std::to_string(rcnet::kMaxEmptyRecords + 1) + " 0\n0\n0 0\n");
    Compare(Kind::Patterns, "empty patterns at the limit",
            "0 0 " + std::to_string(rcnet::kMaxEmptyRecords) + "\n");
    Compare(Kind::Patterns, "empty patterns over the limit",
            "0 0 " + std::to_string(rcnet::kMaxEmptyRecords + 1) + "\n");
    Compare(Kind::Network, "huge input matrix", "1 1 1\n0 0\n0\n100000 100000\n1 2\n");
    Compare(Kind::Patterns, "huge count without values", "0 0 4294967295\n");
    Compare(Kind::Patterns, "count without values", "0 0 1000\n");
    Compare(Kind::Patterns, "count without values at the slack", "0 0 1030\n");
    Compare(Kind::Patterns, "huge input size", "4000000000 1 1\n1 2 3\n");
    Compare(Kind::Patterns, "negative count", "1 1 -1\n1 2\n");
    Compare(Kind::Patterns, "no patterns", "3 1 0\n");
    Compare(Kind::Patterns, "empty", "");
    Compare(Kind::Network, "empty", "");
    Compare(Kind::Network, "empty reservoir", "0 0 0\n0 0\n0\n0 0\n");
    Compare(Kind::Network, "type -1", "0 0 0\n0 0\n1\n-1\n5\n0\n0\n0 0\n");
    Compare(Kind::Network, "type 4294967295", "0 0 0\n0 0\n1\n4294967295\n5\n0\n0\n0 0\n");
    Compare(Kind::Network, "type -0", "0 0 0\n0 0\n1\n-0\n5\n0\n0\n0 0\n");
    Compare(Kind::Network, "flag -0", "0 0 -0\n0 0\n0\n0 0\n");
    Compare(Kind::Network, "CR LF", "1 1 1\r\n0 0\r\n1\r\n3\r\n1\r\n1\r\n1 0.5 1\r\n0\r\n1 1\r\n0.25 \r\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--quick")) {
        std::fprintf(stderr, "usage: %s DATA_DIR WORK_DIR [--quick]\n", argv[0]);
        return 2;
    }
    if (argc == 4) g_Stride = 3;
    const std::string data = argv[1];
    g_Work = argv[2];
    mkdir(g_Work.c_str(), 0777);
    // The library's reports about skipped links and refused types are expected here.
    rcnet::SetThreadReportHook({[](const char*, void*) {}, nullptr});

    static const char* const kNetworkFiles[] = {
        "net.txt",          "net_bad_flag.txt",        "net_bad_type.txt",  "net_bad_weight.txt",
        "net_glued_id.txt", "net_readout_too_big.txt", "net_truncated.txt", "net_untrained.txt",
        "net_warnings.txt"};
    static const char* const kPatternFiles[] = {"patterns.txt", "patterns_bad_header.txt",
                                                "patterns_bad_value.txt", "patterns_out_of_range.txt",
                                                "patterns_truncated.txt"};
    for (const char* file : kNetworkFiles) Compare(Kind::Network, file, ReadFile(data + "/" + file));
    for (const char* file : kPatternFiles) Compare(Kind::Patterns, file, ReadFile(data + "/" + file));
    Mutations(Kind::Network, "net.txt", ReadFile(data + "/net.txt"));
    {
        // The first 8 patterns, so that the mutations stay quick.
        std::istringstream lines(ReadFile(data + "/patterns.txt"));
        std::string line, text = "2 1 8\n";
        std::getline(lines, line);
        for (int k = 0; k < 8 && std::getline(lines, line); ++k) text += line + "\n";
        Mutations(Kind::Patterns, "patterns.txt (8 patterns)", text);
    }
    Mutations(Kind::Network, "net_warnings.txt", ReadFile(data + "/net_warnings.txt"));
    RandomFiles();
    const int cases = g_Cases, accepted = g_Accepted;
    LongValues();
    // Values cut by the buffer's end are refused, others not: both must occur here.
    const int longAccepted = g_Accepted - accepted, longRefused = g_Cases - cases - longAccepted;
    std::printf("long values: %d files accepted, %d refused by the library\n", longAccepted, longRefused);
    if (longAccepted < 20 || longRefused < 20) ++g_Mismatches;
    Announcements();

    std::printf("%d files, %d accepted by the library, %d mismatches\n", g_Cases, g_Accepted, g_Mismatches);
    // Both verdicts must occur often, or the comparison proves little.
    if (g_Accepted < 1000 / int(g_Stride) || g_Cases - g_Accepted < 1000 / int(g_Stride)) {
        std::printf("too few accepted or refused files\n");
        return 1;
    }
    return g_Mismatches == 0 ? 0 : 1;
}
