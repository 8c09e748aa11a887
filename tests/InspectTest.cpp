// The inspection interface: snapshots of registered networks against the file the library writes for
// them, and file checks against what loading does.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "src/FileOps.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SignalNet.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::ReportCapture;
using rcnet::test::TempDir;
using Checks = std::vector<std::string>;

void BuildInspectedNet(int id, bool threshold) {
    ASSERT_EQ(RegisterUsage(id, 2, 2, threshold), 1);
    test::AddMixedReservoir(id, 11, 9, 4, 3, 40, 25, 2);
    std::vector<double> in, out;
    for (int p = 0; p < 30; ++p) {
        in.insert(in.end(), {std::sin(0.4 * p), 0.5});
        out.insert(out.end(), {std::cos(0.4 * p), 0.1 * p});
    }
    ASSERT_EQ(AddPatternsToNet(id, 30, 2, in.data(), 2, out.data()), 1);
    ASSERT_EQ(LearnNet(id), 1);
}

// The values of a saved network file in order, split at white space (the file's form is plain).
std::vector<std::string> Tokens(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) tokens.push_back(token);
    return tokens;
}

void ExpectMatrix(const std::vector<std::vector<double>>& matrix, const std::vector<std::string>& t,
                  size_t& k) {
    ASSERT_EQ(std::to_string(matrix.size()), t[k++]);
    ASSERT_EQ(std::to_string(matrix.empty() ? 0 : matrix[0].size()), t[k++]);
    for (const auto& row : matrix)
        for (double v : row) EXPECT_EQ(FormatDouble(v), t[k++]);
}

void ExpectLinks(const std::vector<inspect::Link>& links, size_t& next, uint32_t source,
                 const std::vector<std::string>& t, size_t& k) {
    const size_t count = std::stoul(t[k++]);
    for (size_t i = 0; i < count; ++i, ++next) {
        ASSERT_LT(next, links.size());
        EXPECT_EQ(links[next].source, source);
        EXPECT_EQ(t[k++], std::to_string(source));
        EXPECT_EQ(t[k++], FormatDouble(links[next].weight));
        EXPECT_EQ(t[k++], std::to_string(links[next].target));
    }
}

// Everything the snapshot holds is what the saved file says, value by value.
TEST(Inspect, SnapshotIsWhatTheSavedFileHolds) {
    TempDir dir;
    BuildInspectedNet(81, true);
    inspect::Network net;
    ASSERT_TRUE(inspect::GetNetwork(81, net));
    ASSERT_EQ(SaveNetToFile(81, dir.File("net.txt").c_str()), 1);
    const std::vector<std::string> t = Tokens(test::ReadBytes(dir.File("net.txt")));
    size_t k = 0;
    EXPECT_EQ(t[k++], std::to_string(net.inputs));
    EXPECT_EQ(t[k++], std::to_string(net.outputs));
    EXPECT_EQ(t[k++], net.threshold ? "1" : "0");
    EXPECT_EQ(net.inputs, 2u);
    EXPECT_TRUE(net.threshold);
    ExpectMatrix(net.readout, t, k);
    ASSERT_EQ(t[k++], std::to_string(net.neurons.size()));
    ASSERT_EQ(net.neurons.size(), 13u);
    size_t forward = 0, back = 0;
    for (size_t i = 0; i < net.neurons.size(); ++i) {
        EXPECT_EQ(t[k++], std::to_string(net.neurons[i].type));
        EXPECT_EQ(t[k++], std::to_string(net.neurons[i].id));
        if (i > 0) {
            EXPECT_LT(net.neurons[i - 1].id, net.neurons[i].id);
        }
        ExpectLinks(net.forward, forward, net.neurons[i].id, t, k);
        ExpectLinks(net.back, back, net.neurons[i].id, t, k);
    }
    EXPECT_EQ(forward, 40u);
    EXPECT_EQ(back, 25u);
    EXPECT_EQ(net.forward.size(), 40u);
    EXPECT_EQ(net.back.size(), 25u);
    ExpectMatrix(net.inputMatrix, t, k);
    EXPECT_EQ(k, t.size());
    EXPECT_EQ(net.neurons[12].type, 3);
    UnregisterUsage(81);
}

TEST(Inspect, UnregisteredIdsAreRefusedWithTheRegistrysReport) {
    ReportCapture capture;
    inspect::Network net;
    net.inputs = 5;
    EXPECT_FALSE(inspect::GetNetwork(82, net));
    EXPECT_EQ(net.inputs, 5u);
    EXPECT_EQ(capture.Checks(), Checks{"it != m_Nets.end() @ NetManager"});
}

bool SameNetwork(const inspect::Network& a, const inspect::Network& b) {
    const auto sameLinks = [](const std::vector<inspect::Link>& x, const std::vector<inspect::Link>& y) {
        if (x.size() != y.size()) return false;
        for (size_t i = 0; i < x.size(); ++i)
            if (x[i].source != y[i].source || x[i].target != y[i].target || x[i].weight != y[i].weight)
                return false;
        return true;
    };
    if (a.neurons.size() != b.neurons.size()) return false;
    for (size_t i = 0; i < a.neurons.size(); ++i)
        if (a.neurons[i].id != b.neurons[i].id || a.neurons[i].type != b.neurons[i].type) return false;
    return a.inputs == b.inputs && a.outputs == b.outputs && a.threshold == b.threshold &&
           sameLinks(a.forward, b.forward) && sameLinks(a.back, b.back) && a.inputMatrix == b.inputMatrix &&
           a.readout == b.readout;
}

// A check accepts what LoadNetFromFile loads, and its network is the one loading gives.
TEST(Inspect, NetworkChecksAgreeWithLoading) {
    TempDir dir;
    BuildInspectedNet(83, false);
    const std::string good = dir.File("good.txt");
    ASSERT_EQ(SaveNetToFile(83, good.c_str()), 1);
    const std::string text = test::ReadBytes(good);
    const std::vector<std::string> texts = {text, text.substr(0, text.size() / 2), text + "words after it",
                                            "1 1 1\n0 0\n1\n-1\n3\n0\n0\n1 1\n0.5 \n",
                                            "0 0 0\n0 0\n2\n1\n5\n1\n5 0.5 9\n0\n1\n5\n0\n0\n0 2\n"};
    ReportCapture quiet;
    for (const std::string& candidate : texts) {
        const std::string path = dir.File("candidate.txt");
        test::WriteBytes(path, candidate);
        ASSERT_EQ(RegisterUsage(84, 0, 0, 0), 1);
        const bool loaded = LoadNetFromFile(84, path.c_str()) == 1;
        const inspect::NetworkFileCheck byPath = inspect::CheckNetworkFile(path);
        const inspect::NetworkFileCheck byText = inspect::CheckNetworkText(candidate);
        EXPECT_EQ(byPath.accepted, loaded) << candidate;
        EXPECT_EQ(byText.accepted, loaded) << candidate;
        EXPECT_TRUE(byPath.opened);
        EXPECT_EQ(byPath.stop.reason, byText.stop.reason);
        EXPECT_EQ(byPath.stop.at.offset, byText.stop.at.offset);
        if (loaded) {
            inspect::Network network;
            ASSERT_TRUE(inspect::GetNetwork(84, network));
            EXPECT_TRUE(SameNetwork(byPath.network, network)) << candidate;
            EXPECT_TRUE(SameNetwork(byText.network, network)) << candidate;
        } else {
            EXPECT_FALSE(byPath.stop.reason.empty());
        }
        UnregisterUsage(84);
    }
    UnregisterUsage(83);
}

// The reports a read makes go into the check, not to the thread's output.
TEST(Inspect, ChecksKeepTheLibrarysReports) {
    ReportCapture capture;
    // A link whose source names no neuron: skipped, with a report; a type -1: refused, with two.
    const inspect::NetworkFileCheck skipped =
        inspect::CheckNetworkText("0 0 0\n0 0\n1\n1\n5\n1\n9 0.5 5\n0\n0 1\n");
    EXPECT_TRUE(skipped.accepted);
    const inspect::NetworkFileCheck refused = inspect::CheckNetworkText("0 0 0\n0 0\n1\n-1\n5\n0\n0\n0 1\n");
    EXPECT_FALSE(refused.accepted);
    EXPECT_TRUE(capture.Lines().empty());
    ASSERT_EQ(skipped.reports.size(), 1u);
    EXPECT_EQ(skipped.reports[0].rfind("Assertion failed: found != neurons.end(), file Reservoire, line ", 0),
              0u);
    ASSERT_EQ(refused.reports.size(), 2u);
    EXPECT_EQ(refused.reports[0].rfind("Assertion failed: type != ETYPE_UNKNOWN, file Reservoire, line ", 0),
              0u);
    EXPECT_EQ(refused.reports[1].rfind("Assertion failed: false, file Neurons, line ", 0), 0u);
    EXPECT_EQ(
        refused.stop.reason,
        "'-1' is not a neuron type (expected the type of neuron record 1 of 1: 0 sigmoid, 1 bipolar sigmoid, "
        "2 rsdn or 3 linear)");
}

// What a check notes besides its verdict: records and link lines where the file has them, matrix
// headers, values without white space between them, text after the last value.
TEST(Inspect, NetworkNotes) {
    const inspect::NetworkFileCheck check = inspect::CheckNetworkText(
        "1 1 1\n1 2\n0.5 0.25 \n2\n1\n7\n1\n7 0.5 8\n0\n3\n7\n1\n8 1-2\n1\n7 -1 7\n1 1\n1 \n  the end\n");
    ASSERT_TRUE(check.accepted) << check.stop.reason;
    const inspect::ReadNotes& notes = check.notes;
    EXPECT_EQ(notes.readout.rows, 1u);
    EXPECT_EQ(notes.readout.columns, 2u);
    EXPECT_EQ(notes.readout.at.line, 2u);
    EXPECT_EQ(notes.inputMatrix.at.line, 16u);
    ASSERT_EQ(notes.neurons.size(), 2u);  // the second repeats id 7: the network keeps one neuron
    EXPECT_EQ(check.network.neurons.size(), 1u);
    EXPECT_EQ(notes.neurons[1].type, 3);
    EXPECT_EQ(notes.neurons[1].id, 7u);
    EXPECT_EQ(notes.neurons[1].at.line, 11u);
    ASSERT_EQ(notes.links.size(), 3u);
    EXPECT_EQ(notes.links[1].source, 8u);
    EXPECT_EQ(notes.links[1].weight, 1.0);  // "1-2": weight 1, target -2 read as a count
    EXPECT_EQ(notes.links[1].target, 4294967294u);
    EXPECT_FALSE(notes.links[1].back);
    EXPECT_EQ(notes.links[1].record, 1u);
    EXPECT_EQ(notes.links[1].at.line, 13u);
    EXPECT_EQ(notes.links[1].at.column, 1u);
    EXPECT_TRUE(notes.links[2].back);
    ASSERT_EQ(notes.joinedCount, 1u);
    EXPECT_EQ(notes.joined[0].first, "1");
    EXPECT_EQ(notes.joined[0].second, "-2");
    EXPECT_EQ(notes.joined[0].at.line, 13u);
    EXPECT_EQ(notes.joined[0].at.column, 3u);
    EXPECT_TRUE(notes.trailing);
    EXPECT_EQ(notes.trailingText, "the");
    EXPECT_EQ(notes.trailingAt.line, 18u);
    EXPECT_EQ(notes.trailingAt.column, 3u);
}

TEST(Inspect, PatternChecks) {
    TempDir dir;
    const std::string text = "2 1 2\n0.5 1 2\n0.25 -1 3e-3 extra";
    test::WriteBytes(dir.File("p.txt"), text);
    for (const inspect::PatternFileCheck& check :
         {inspect::CheckPatternFile(dir.File("p.txt")), inspect::CheckPatternText(text)}) {
        ASSERT_TRUE(check.accepted);
        EXPECT_EQ(check.inputSize, 2u);
        EXPECT_EQ(check.outputSize, 1u);
        EXPECT_EQ(check.inputs, (std::vector<std::vector<double>>{{0.5, 1}, {0.25, -1}}));
        EXPECT_EQ(check.targets, (std::vector<std::vector<double>>{{2}, {3e-3}}));
        EXPECT_TRUE(check.notes.trailing);
        EXPECT_EQ(check.notes.trailingText, "extra");
    }
    const inspect::PatternFileCheck missing = inspect::CheckPatternFile(dir.File("missing.txt"));
    EXPECT_FALSE(missing.opened);
    EXPECT_FALSE(missing.accepted);
    EXPECT_NE(missing.stop.reason.find("cannot be opened"), std::string::npos);
    const inspect::NetworkFileCheck directory = inspect::CheckNetworkFile(dir.Path().string());
    EXPECT_FALSE(directory.opened);
}

// The calls of the example in docs/INSPECT.md: a refused file's place and reason, an accepted one's back
// links and their radius.
TEST(Inspect, TheDocumentedExample) {
    TempDir dir;
    test::WriteBytes(dir.File("refused.net"), "1 1 1\n0 0\n1\n7\n1\n0\n0\n1 1\n0.5 \n");
    const inspect::NetworkFileCheck refused = inspect::CheckNetworkFile(dir.File("refused.net"));
    ASSERT_FALSE(refused.accepted);
    EXPECT_EQ(refused.stop.at.line, 4u);
    EXPECT_EQ(refused.stop.at.column, 1u);
    EXPECT_EQ(refused.stop.reason.rfind("'7' is not a neuron type", 0), 0u);

    // Three neurons whose back links form the cycle 1 -> 2 -> 3 -> 1 with weight 0.5: radius 0.5.
    test::WriteBytes(
        dir.File("cycle.net"),
        "1 1 0\n0 0\n3\n1\n1\n0\n1\n1 0.5 2\n1\n2\n0\n1\n2 0.5 3\n1\n3\n0\n1\n3 0.5 1\n1 3\n1 1 1 \n");
    const inspect::NetworkFileCheck check = inspect::CheckNetworkFile(dir.File("cycle.net"));
    ASSERT_TRUE(check.accepted) << check.stop.reason;
    const inspect::Radius radius = inspect::LinkRadius(check.network, inspect::LinkKind::Back);
    EXPECT_EQ(check.network.neurons.size(), 3u);
    EXPECT_EQ(check.network.back.size(), 3u);
    EXPECT_NEAR(radius.value, 0.5, 1e-15);
    EXPECT_TRUE(radius.converged);
}

}  // namespace
