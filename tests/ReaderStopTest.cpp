// Where and why the readers stop: line, column and reason for each kind of fault; the same verdict,
// place and result whatever the buffer (texts read from memory and from files through buffers of 1 byte
// to 64 KiB, values spanning the buffer's end); and a refused file changes nothing.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/FileOps.h"
#include "src/Net.h"
#include "src/NetManager.h"
#include "src/PatternFile.h"
#include "src/Random.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::ReportCapture;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStride = 3;  // every third mutation under the sanitizers
#else
constexpr size_t kStride = 1;
#endif

// What one read gives: the verdict, where and why it stopped, and what it read, written out again.
struct Outcome {
    bool accepted = false;
    inspect::ReadStop stop;
    std::string result;

    bool operator==(const Outcome& o) const {
        return accepted == o.accepted && stop.at.line == o.stop.at.line &&
               stop.at.column == o.stop.at.column && stop.at.offset == o.stop.at.offset &&
               stop.reason == o.stop.reason && result == o.result;
    }
};

std::string Written(const Net& net) {
    TextWriter out;
    net.Write(out);
    return out.Text();
}

std::string Written(const PatternFile& file) {
    std::string text = std::to_string(file.inputSize) + " " + std::to_string(file.outputSize) + ":";
    for (size_t k = 0; k < file.inputs.size(); ++k) {
        for (double v : file.inputs[k]) text += " " + FormatDouble(v);
        text += " |";
        for (double v : file.outputs[k]) text += " " + FormatDouble(v);
        text += ";";
    }
    return text;
}

// Reads text as a network or pattern file from memory (buffer 0) or from a file through a buffer of
// that many bytes.
Outcome Read(bool network, const std::string& text, size_t buffer) {
    ReportCapture quiet;
    const test::TempDir dir;
    std::FILE* file = nullptr;
    std::unique_ptr<TextReader> in;
    if (buffer == 0) {
        in = std::make_unique<TextReader>(text);
    } else {
        file = dir.Open("text");
        EXPECT_NE(file, nullptr);
        if (!file) return {};
        std::fwrite(text.data(), 1, text.size(), file);
        std::rewind(file);
        in = std::make_unique<TextReader>(file, text.size(), buffer);
    }
    Outcome outcome;
    if (network) {
        Net net(0, 0, false);
        outcome.accepted = net.Read(*in);
        if (outcome.accepted) outcome.result = Written(net);
    } else {
        PatternFile patterns;
        outcome.accepted = ReadPatterns(*in, patterns);
        if (outcome.accepted) outcome.result = Written(patterns);
    }
    outcome.stop = in->Stop();
    in.reset();
    if (file) std::fclose(file);
    return outcome;
}

Outcome ReadNet(const std::string& text) {
    return Read(true, text, 0);
}
Outcome ReadPatternText(const std::string& text) {
    return Read(false, text, 0);
}

// Line and column of offset, counted here byte by byte: the plain twin of the reader's bookkeeping.
std::pair<uint64_t, uint64_t> PlaceOf(const std::string& text, uint64_t offset) {
    uint64_t line = 1, start = 0;
    for (uint64_t i = 0; i < offset && i < text.size(); ++i)
        if (text[i] == '\n') ++line, start = i + 1;
    return {line, offset - start + 1};
}

void ExpectStop(const Outcome& outcome, uint64_t line, uint64_t column, const std::string& reason) {
    EXPECT_FALSE(outcome.accepted);
    EXPECT_EQ(outcome.stop.at.line, line);
    EXPECT_EQ(outcome.stop.at.column, column);
    EXPECT_EQ(outcome.stop.reason, reason);
}

// 1 input, 1 output, threshold; two neurons (ids 7 and 8), a forward link 7 -> 8, a back link 8 -> 7.
const std::string kNet =
    "1 1 1\n1 3\n0.5 -0.25 0.125 \n2\n1\n7\n1\n7 0.5 8\n0\n3\n8\n0\n1\n8 -0.5 7\n1 2\n1 -1 \n";
const std::string kPatterns = "2 1 3\n0.5 1 2\n0.25 -1 3e-3\n1 1 1\n";

std::string Replace(const std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.substr(0, at) + to + text.substr(at + from.size());
}

TEST(ReaderStop, TheExamplesAreAccepted) {
    EXPECT_TRUE(ReadNet(kNet).accepted);
    EXPECT_TRUE(ReadNet(kNet).stop.reason.empty());
    EXPECT_TRUE(ReadPatternText(kPatterns).accepted);
}

TEST(ReaderStop, NetworkFileFaults) {
    ExpectStop(ReadNet(""), 1, 1,
               "the file ends too early (expected the input size (the file's first value))");
    ExpectStop(ReadNet("x" + kNet.substr(1)), 1, 1,
               "'x' is not a number (expected the input size (the file's first value))");
    ExpectStop(ReadNet(Replace(kNet, "1 1 1", "1 4294967296 1")), 1, 3,
               "'4294967296' is too large for a count (at most 4294967295) (expected the output size (the "
               "file's second value))");
    ExpectStop(ReadNet(Replace(kNet, "1 1 1", "1 1 2")), 1, 5,
               "'2' is not 0 or 1 (expected the threshold flag, 0 or 1 (the file's third value))");
    ExpectStop(
        ReadNet(Replace(kNet, "-0.25", "1e999")), 3, 5,
        "'1e999' is out of the range of a double (expected value 2 of 3 of row 1 of 1 of the readout)");
    ExpectStop(ReadNet(Replace(kNet, "1 3\n", "100000 100000\n")), 2, 1,
               "the readout header announces 100000 x 100000 values, more than the remaining 63 bytes of the "
               "file can hold (the file ends before the announced content)");
    ExpectStop(ReadNet(Replace(kNet, "1 3\n", "2000000 0\n")), 2, 1,
               "the readout header announces 2000000 empty rows, more than the library accepts (1048576) and "
               "more than the remaining 63 bytes of the file can hold");
    ExpectStop(ReadNet(Replace(kNet, "2\n1\n7\n", "2\n+9\n7\n")), 5, 1,
               "'+9' is not a neuron type (expected the type of neuron record 1 of 2: 0 sigmoid, 1 bipolar "
               "sigmoid, 2 rsdn or 3 linear)");
    ExpectStop(
        ReadNet(Replace(kNet, "\n7\n1\n", "\n7.5\n1\n")), 6, 2,
        "'.5' is not a number (expected the number of forward links of neuron record 1 of 2 (id 7); it "
        "directly follows '7', which was read as the value before)");
    ExpectStop(
        ReadNet(Replace(kNet, "7 0.5 8", "7 zz 8")), 8, 3,
        "'zz' is not a number (expected the weight of forward link 1 of 1 of neuron record 1 of 2 (id 7))");
    ExpectStop(
        ReadNet(Replace(kNet, "8 -0.5 7", "8 -0.5 -")), 14, 8,
        "'-' is not a number (expected the target id of back link 1 of 1 of neuron record 2 of 2 (id 8))");
    ExpectStop(ReadNet(kNet.substr(0, kNet.size() - 4)), 16, 3,
               "the file ends too early (expected value 2 of 2 of row 1 of 1 of the input matrix)");
    // Columns count bytes, a CR included; long or unprintable text is cut and escaped.
    ExpectStop(ReadNet("1\r\n1 \x01x"), 2, 3,
               "'\\x01x' is not a number (expected the threshold flag, 0 or 1 (the "
               "file's third value))");
    ExpectStop(
        ReadNet("1 1 1\r\n" + std::string(50, 'y')), 2, 1,
        "'" + std::string(40, 'y') +
            "...' is not a number (expected the number of rows of the readout (its header's first value))");
}

TEST(ReaderStop, PatternFileFaults) {
    ExpectStop(ReadPatternText(Replace(kPatterns, "2 1 3", "2 one 3")), 1, 3,
               "'one' is not a number (expected the output size (the file's second value))");
    ExpectStop(ReadPatternText(Replace(kPatterns, "3e-3", "x")), 3, 9,
               "'x' is not a number (expected target 1 of 1 of pattern 2 of 3)");
    ExpectStop(ReadPatternText(Replace(kPatterns, "0.5 1 2", "0.5 +-1 2")), 2, 5,
               "'+-1' is not a number (expected input 2 of 2 of pattern 1 of 3)");
    ExpectStop(
        ReadPatternText("3 1 1000\n1 2 3 4\n"), 3, 1,
        "the file ends too early: pattern 2 of 1000 needs 3 input values, more than the remaining 1 byte "
        "can hold");
    ExpectStop(
        ReadPatternText("0 0 2000000\n"), 1, 5,
        "the header announces 2000000 patterns without values, more than the library accepts (1048576)");
    ExpectStop(ReadPatternText("1 1 2\n1 2 3"), 2, 6,
               "the file ends too early (expected target 1 of 1 of pattern 2 of 2)");
}

// The texts of the buffer tests: the examples, every prefix of them, every value replaced by troublesome
// text, inserted characters, and words strung together at random.
std::vector<std::string> Mutations(const std::string& text) {
    std::vector<std::string> texts{text};
    for (size_t length = 0; length < text.size(); length += kStride) texts.push_back(text.substr(0, length));
    static const char* const kReplacements[] = {
        "x",    "",      "1.5", "-1",  "-0",         "+2",         "4",     "7",
        "0",    "1e999", "+-1", "++1", "4294967295", "4294967296", "nan",   "inf",
        "-inf", "0x1A",  "1e",  "1.",  ".5",         "5.",         "1,5",   "12ab",
        "3-2",  "1E+2",  "-",   "+",   "infinity",   "nan(1)",     "infin", "\x01"};
    size_t token = 0;
    for (size_t i = 0; i < text.size();) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        const size_t begin = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (begin == i || token++ % kStride) continue;
        for (const char* r : kReplacements) texts.push_back(text.substr(0, begin) + r + text.substr(i));
    }
    for (size_t at = 0; at <= text.size(); at += 3 * kStride)
        for (const char* insertion : {" ", "\n", "x", "-", ".", "e", "+", "0", "(", "i"})
            texts.push_back(text.substr(0, at) + insertion + text.substr(at));
    uint32_t state = 20240611u;
    static const char* const kWords[] = {"0", "1", "2", "3", "-1", "0.5", "1e-3", "x", "4", "10", "nan", "7"};
    for (int i = 0; i < 100; ++i) {
        std::string soup;
        state = state * 1103515245u + 12345u;
        for (uint32_t k = (state >> 8) % 40; k > 0; --k) {
            state = state * 1103515245u + 12345u;
            soup += kWords[(state >> 8) % std::size(kWords)];
            soup += (state >> 20) % 4 ? " " : "\n";
        }
        texts.push_back(soup);
    }
    return texts;
}

void ExpectSameWhateverTheBuffer(bool network, const std::vector<std::string>& texts,
                                 const std::vector<size_t>& buffers, int& accepted, int& refused) {
    for (const std::string& text : texts) {
        const Outcome memory = Read(network, text, 0);
        (memory.accepted ? accepted : refused) += 1;
        if (!memory.accepted) {
            // The place is inside the text (its end for a text that ends too early), and the reader's
            // line and column are those of its offset.
            ASSERT_LE(memory.stop.at.offset, text.size()) << text;
            const auto [line, column] = PlaceOf(text, memory.stop.at.offset);
            EXPECT_EQ(memory.stop.at.line, line) << text;
            EXPECT_EQ(memory.stop.at.column, column) << text;
            EXPECT_FALSE(memory.stop.reason.empty()) << text;
        }
        for (size_t buffer : buffers)
            EXPECT_TRUE(Read(network, text, buffer) == memory) << buffer << ": " << text;
    }
}

TEST(ReaderStop, SameOutcomeWhateverTheBuffer) {
    int accepted = 0, refused = 0;
    const std::vector<size_t> buffers{1, 2, 3, 16, TextReader::kDefaultBufferSize};
    ExpectSameWhateverTheBuffer(true, Mutations(kNet), buffers, accepted, refused);
    ExpectSameWhateverTheBuffer(false, Mutations(kPatterns), buffers, accepted, refused);
    // Both verdicts must be common, or the comparison proves little.
    EXPECT_GT(accepted, 300 / int(kStride));
    EXPECT_GT(refused, 300 / int(kStride));
}

// Values longer than a buffer, starting at many distances from its end, are read whole, to the value
// the text has, through any buffer.
TEST(ReaderStop, ValuesSpanningTheBufferAreReadWhole) {
    const size_t kWindow = TextReader::kDefaultBufferSize;
    struct Case {
        bool network;
        std::string text;
        const char* value;  // in the result
    };
    std::vector<Case> cases;
    for (size_t length : {kWindow - 1, kWindow + 1, 3 * kWindow / 2}) {
        const std::string zeros(length - 3, '0');
        for (size_t before : {size_t{0}, size_t{4095}, kWindow / 2 - 1, kWindow / 2}) {
            const std::string pad(2 * before, ' ');
            for (const std::string& tail : {std::string("\n"), "\n" + std::string(70000, ' ') + "0\n"}) {
                cases.push_back({false, "1 0 1\n" + pad + zeros + "1.5" + tail, " 1.5 "});
                cases.push_back({false, "1 0 " + zeros + "001\n" + pad + "2.5" + tail, " 2.5 "});
                cases.push_back({true, "0 1 0\n1 1\n" + pad + zeros + "1.5\n0\n0 0\n" + tail, "\n1.5 "});
                cases.push_back({true, "0 1 0\n1 1\n" + pad + zeros + "1.5e1\n0\n0 0\n" + tail, "\n15 "});
                cases.push_back({true, "0 0 0\n0 0\n" + pad + zeros + "000\n0 0\n" + tail, "0 0 0"});
            }
        }
    }
    for (const Case& c : cases) {
        const Outcome memory = Read(c.network, c.text, 0);
        ASSERT_TRUE(memory.accepted) << memory.stop.reason;
        EXPECT_NE(memory.result.find(c.value), std::string::npos) << memory.result.substr(0, 80);
        for (size_t buffer : {size_t{7}, size_t{4096}, kWindow})
            EXPECT_TRUE(Read(c.network, c.text, buffer) == memory);
    }
}

// A refused file leaves a loaded network and a pattern store exactly as they were.
TEST(ReaderStop, RefusedFilesChangeNothing) {
    test::TempDir dir;
    const std::string path = dir.File("refused.txt");
    ASSERT_EQ(RegisterUsage(71, 2, 1, 1), 1);
    Randomize(4);
    AddNeuronsToNet(71, 6, 1);
    AddRandomConnectionsToNet(71, 12);
    AddRandomBackConnectionsToNet(71, 8);
    InitNetInputMatrix(71, 2);
    const double in[] = {0.5, -0.5, 0.25, 1}, out[] = {1, -1};
    ASSERT_EQ(AddPatternsToNet(71, 2, 2, in, 1, out), 1);
    ASSERT_EQ(LearnNet(71), 1);
    Net& net = *NetManager::Instance().GetNet(71);
    const std::string before = Written(net);
    int refused = 0;
    ReportCapture quiet;
    for (const std::string& text : Mutations(kNet)) {
        if (ReadNet(text).accepted) continue;
        ++refused;
        test::WriteBytes(path, text);
        EXPECT_EQ(LoadNetFromFile(71, path.c_str()), 0) << text;
        EXPECT_EQ(Written(net), before) << text;
    }
    for (const std::string& text : Mutations("2 1 2\n0.5 1 2\n0.25 -1 3e-3\n")) {
        if (ReadPatternText(text).accepted) continue;
        ++refused;
        test::WriteBytes(path, text);
        EXPECT_EQ(AddPatternsFromFile(71, path.c_str()), 0) << text;
        EXPECT_EQ(net.PatternCount(), 2u) << text;
    }
    EXPECT_GT(refused, 200 / int(kStride));
    UnregisterUsage(71);
}

}  // namespace
