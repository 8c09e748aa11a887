// The network file and the pattern file, through the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#ifdef __linux__
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <iterator>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "src/FileOps.h"
#include "src/NetManager.h"
#include "tests/support/FileFaults.h"
#include "tests/support/Internals.h"
#include "tests/support/Lines.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::Lines;
using rcnet::test::NetOf;
using rcnet::test::ReadBytes;
using rcnet::test::ReportCapture;
using rcnet::test::TempDir;
using rcnet::test::WriteBytes;
using Checks = std::vector<std::string>;

// A trained network with a mixed reservoir.
void BuildTrained(int id, bool threshold, uint32_t seed = 5) {
    ASSERT_EQ(RegisterUsage(id, 2, 2, threshold), 1);
    test::AddMixedReservoir(id, seed, 12, 6, 2, 50, 30, 2);
    std::vector<double> in, out;
    for (int p = 0; p < 40; ++p) {
        in.push_back(std::sin(0.3 * p));
        in.push_back(0.5);
        out.push_back(std::sin(0.3 * (p + 1)));
        out.push_back(-0.25 * p);
    }
    ASSERT_EQ(AddPatternsToNet(id, 40, 2, in.data(), 2, out.data()), 1);
    ASSERT_EQ(LearnNet(id), 1);
}

// Everything a load may change or must keep, for "nothing changed" checks.
struct Snapshot {
    uint32_t in, out;
    bool threshold;
    Matrix weights;
    std::string reservoir;
    Vector states;
    std::vector<double> neuronValues;
    size_t patterns;

    explicit Snapshot(int id) {
        const Net& net = NetOf(id);
        in = net.InputSize();
        out = net.OutputSize();
        threshold = net.UseThreshold();
        weights = net.OutputWeights();
        TextWriter text;
        net.Reservoir().WriteReservoir(text);
        reservoir = text.Text();
        states = net.Reservoir().States();
        for (const NeuronRef& n : net.Reservoir().Neurons())
            neuronValues.insert(neuronValues.end(),
                                {n->m_Input, n->m_InputActivation, n->m_PrevState, n->m_State});
        patterns = net.PatternCount();
    }
    bool operator==(const Snapshot& o) const {
        return in == o.in && out == o.out && threshold == o.threshold && weights == o.weights &&
               reservoir == o.reservoir && states == o.states && neuronValues == o.neuronValues &&
               patterns == o.patterns;
    }
};

class NetFile : public test::NetIdsTest<7000, 10> {
protected:
    TempDir dir;
};

TEST_F(NetFile, UntrainedNetworkWritesSizesAnEmptyReadoutAndItsReservoir) {
    ASSERT_EQ(RegisterUsage(7000, 3, 2, 1), 1);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("empty.net").c_str()), 1);
    EXPECT_EQ(ReadBytes(dir.File("empty.net")), Lines({"3 2 1", "0 0", "0", "0 0"}));
}

TEST_F(NetFile, TrainedNetworkFileLayout) {
    BuildTrained(7000, true);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("a.net").c_str()), 1);
    const std::string text = ReadBytes(dir.File("a.net"));
    const std::string header = Lines({"2 2 1", "2 19"});
    EXPECT_EQ(text.substr(0, header.size()), header);
    TextWriter weightsAndReservoir;
    WriteMatrix(weightsAndReservoir, NetOf(7000).OutputWeights());
    NetOf(7000).Reservoir().WriteReservoir(weightsAndReservoir);
    EXPECT_EQ(text, Lines({"2 2 1"}) + weightsAndReservoir.Text());
}

TEST_F(NetFile, SaveAndLoadIntoAnotherNetwork) {
    BuildTrained(7000, true);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("a.net").c_str()), 1);
    ASSERT_EQ(RegisterUsage(7001, 9, 9, 0), 1);
    const double pattern[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(AddPatternsToNet(7001, 1, 9, pattern, 9, pattern + 9), 1);
    ASSERT_EQ(LoadNetFromFile(7001, dir.File("a.net").c_str()), 1);

    const Net& saved = NetOf(7000);
    const Net& loaded = NetOf(7001);
    EXPECT_EQ(loaded.InputSize(), 2u);
    EXPECT_EQ(loaded.OutputSize(), 2u);
    EXPECT_TRUE(loaded.UseThreshold());
    EXPECT_EQ(loaded.PatternCount(), 1u) << "stored patterns stay";
    ASSERT_EQ(loaded.OutputWeights().size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        for (size_t j = 0; j < 19; ++j)
            EXPECT_EQ(FormatDouble(loaded.OutputWeights()[i][j]), FormatDouble(saved.OutputWeights()[i][j]));
    // Saving the loaded network gives the same bytes.
    ASSERT_EQ(SaveNetToFile(7001, dir.File("b.net").c_str()), 1);
    EXPECT_EQ(ReadBytes(dir.File("b.net")), ReadBytes(dir.File("a.net")));

    // Patterns of the new sizes join the old one; the store keeps both lengths.
    ASSERT_EQ(AddPatternsToNet(7001, 2, 2, pattern, 2, pattern + 4), 1);
    EXPECT_EQ(test::StoredInputs(loaded).ToLists(),
              (std::vector<Vector>{{1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2}, {3, 4}}));
    EXPECT_EQ(test::StoredOutputs(loaded).ToLists(),
              (std::vector<Vector>{{1, 2, 3, 4, 5, 6, 7, 8, 9}, {5, 6}, {7, 8}}));

    // The stored 9-value pattern no longer fits: training refuses, changing nothing.
    ReportCapture capture;
    const Matrix weights = loaded.OutputWeights();
    EXPECT_EQ(LearnNet(7001), 0);
    EXPECT_EQ(capture.Checks(),
              Checks{"m_Inputs[p].size() == m_InputSize && m_Outputs[p].size() == m_OutputSize @ Net"});
    EXPECT_EQ(loaded.OutputWeights(), weights);
}

TEST_F(NetFile, NetworksLoadedFromOneFilePropagateAlike) {
    BuildTrained(7000, false);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("a.net").c_str()), 1);
    for (int id : {7001, 7002}) {
        ASSERT_EQ(RegisterUsage(id, 1, 1, 1), 1);
        ASSERT_EQ(LoadNetFromFile(id, dir.File("a.net").c_str()), 1);
    }
    for (int step = 0; step < 30; ++step) {
        const double ins[2] = {std::cos(step * 0.2), -0.5};
        double a[2], b[2];
        ASSERT_EQ(PropagatePattern(7001, 2, ins, 2, a), 1);
        ASSERT_EQ(PropagatePattern(7002, 2, ins, 2, b), 1);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0);
    }
}

TEST_F(NetFile, FailedLoadsChangeNothing) {
    BuildTrained(7000, true);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("good.net").c_str()), 1);
    const std::string good = ReadBytes(dir.File("good.net"));
    BuildTrained(7001, false, 9);
    double outs[2];
    const double ins[2] = {0.1, 0.2};
    ASSERT_EQ(PropagatePattern(7001, 2, ins, 2, outs), 1);  // neurons hold states now
    const Snapshot before(7001);

    ReportCapture capture;
    WriteBytes(dir.File("empty.net"), "");
    WriteBytes(dir.File("garbled.net"), "2 2 1\n2 19\n0.5 x");
    WriteBytes(dir.File("badflag.net"), "2 2 7\n0 0\n0\n0 0\n");
    WriteBytes(dir.File("badtype.net"), "1 1 0\n0 0\n1\n9\n1\n0\n0\n0 0\n");
    for (const char* name : {"missing.net", "empty.net", "garbled.net", "badflag.net", "badtype.net", ""}) {
        EXPECT_EQ(LoadNetFromFile(7001, dir.File(name).c_str()), 0) << name;
        EXPECT_TRUE(Snapshot(7001) == before) << name;
    }
    EXPECT_EQ(LoadNetFromFile(7001, dir.Path().string().c_str()), 0) << "a directory";
    EXPECT_TRUE(Snapshot(7001) == before);

    // Every cut of a good file before its last value fails; none changes the network.
    const size_t lastValue = good.find_last_of(" \r\n", good.find_last_of("0123456789")) + 1;
    for (size_t length = 0; length < lastValue; length += 7) {
        WriteBytes(dir.File("cut.net"), good.substr(0, length));
        ASSERT_EQ(LoadNetFromFile(7001, dir.File("cut.net").c_str()), 0) << length;
    }
    EXPECT_TRUE(Snapshot(7001) == before);
    EXPECT_EQ(capture.Checks(), Checks{"false @ Neurons"});
}

TEST_F(NetFile, LoadTakesTheFilesSizes) {
    WriteBytes(dir.File("five.net"), "5 1 0\n0 0\n0\n0 0\n");
    ASSERT_EQ(RegisterUsage(7000, 3, 1, 1), 1);
    ASSERT_EQ(LoadNetFromFile(7000, dir.File("five.net").c_str()), 1);
    EXPECT_EQ(NetOf(7000).InputSize(), 5u);
    EXPECT_FALSE(NetOf(7000).UseThreshold());
}

// Empty rows need no values, but the library still writes a line break for each: beyond the reader's
// fixed allowance of empty rows the file's own length admits them.
TEST_F(NetFile, NetworksWithManyEmptyRowsLoadBack) {
    const int many = static_cast<int>(kMaxEmptyRecords) + 1;
    // No neurons and many inputs: an input matrix of empty rows.
    ASSERT_EQ(RegisterUsage(7000, many, 1, 0), 1);
    ASSERT_EQ(InitNetInputMatrix(7000, many), 1);
    const std::string inputs = dir.File("inputs.net");
    ASSERT_EQ(SaveNetToFile(7000, inputs.c_str()), 1);
    ASSERT_EQ(RegisterUsage(7001, 1, 1, 1), 1);
    ASSERT_EQ(LoadNetFromFile(7001, inputs.c_str()), 1);
    EXPECT_EQ(NetOf(7001).InputSize(), static_cast<size_t>(many));
    EXPECT_EQ(NetOf(7001).Reservoir().InputMatrix().size(), static_cast<size_t>(many));

    // No neurons, no threshold and many outputs: a readout of empty rows (as training would leave it).
    const std::string readout = "0 " + std::to_string(many) + " 0\n" + std::to_string(many) + " 0\n" +
                                std::string(many, '\n') + "0\n0 0\n";
    WriteBytes(dir.File("readout.net"), readout);
    ASSERT_EQ(RegisterUsage(7002, 1, 1, 1), 1);
    ASSERT_EQ(LoadNetFromFile(7002, dir.File("readout.net").c_str()), 1);
    ASSERT_EQ(NetOf(7002).OutputWeights().size(), static_cast<size_t>(many));
    const std::string outputs = dir.File("outputs.net");
    ASSERT_EQ(SaveNetToFile(7002, outputs.c_str()), 1);
    // Compared by size and first difference: a failure message quoting a million lines would not fit.
    std::string written = ReadBytes(outputs);
    written.erase(std::remove(written.begin(), written.end(), '\r'), written.end());  // Windows line ends
    EXPECT_EQ(written.size(), readout.size());
    const auto differ = std::mismatch(written.begin(), written.end(), readout.begin(), readout.end());
    EXPECT_TRUE(differ.first == written.end())
        << "first difference at byte " << (differ.first - written.begin()) << ": "
        << written.substr(differ.first - written.begin(), 40);
    ASSERT_EQ(LoadNetFromFile(7001, outputs.c_str()), 1);
    EXPECT_EQ(NetOf(7001).OutputSize(), static_cast<size_t>(many));
    EXPECT_EQ(NetOf(7001).OutputWeights(), NetOf(7002).OutputWeights());

    // The same header over too short a text is still refused.
    const std::string text = ReadBytes(outputs);
    WriteBytes(dir.File("cut.net"), text.substr(0, text.size() / 2));
    EXPECT_EQ(LoadNetFromFile(7001, dir.File("cut.net").c_str()), 0);
}

TEST_F(NetFile, SaveFailuresLeaveThePreviousFileAndNoLeftovers) {
    BuildTrained(7000, true);
    const std::string path = dir.File("keep.net");
    WriteBytes(path, "the previous content");
    platform::FailNextWriteAfter(100);  // as a full disk would
    EXPECT_EQ(SaveNetToFile(7000, path.c_str()), 0);
    EXPECT_EQ(ReadBytes(path), "the previous content");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.net"});

    EXPECT_EQ(SaveNetToFile(7000, dir.File("no/such/dir/x.net").c_str()), 0);
    EXPECT_EQ(SaveNetToFile(7000, dir.Path().string().c_str()), 0) << "a directory";
    EXPECT_EQ(SaveNetToFile(7000, ""), 0);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.net"});

    // Saving twice keeps only the second content.
    ASSERT_EQ(SaveNetToFile(7000, path.c_str()), 1);
    ASSERT_EQ(RegisterUsage(7001, 4, 4, 0), 1);
    ASSERT_EQ(SaveNetToFile(7001, path.c_str()), 1);
    EXPECT_EQ(ReadBytes(path), Lines({"4 4 0", "0 0", "0", "0 0"}));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.net"});
}

// A real full disk: a 64 KiB tmpfs, mounted when the tests run as root.
TEST_F(NetFile, FullDiskLeavesThePreviousFile) {
#ifndef __linux__
    GTEST_SKIP() << "mounting a small file system is done on Linux only";
#else
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string mountPoint = dir.File("small");
    std::filesystem::create_directory(mountPoint);
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string path = mountPoint + "/net.txt";
    const std::string previous(40000, 'p');
    WriteBytes(path, previous);
    ASSERT_EQ(ReadBytes(path), previous);
    // About 60 KB of text: it fits beside nothing, but not beside the 40 KB file.
    ASSERT_EQ(RegisterUsage(7000, 1, 1, 1), 1);
    Randomize(1);
    AddNeuronsToNet(7000, 300, 1);
    AddRandomConnectionsToNet(7000, 2500);
    InitNetInputMatrix(7000, 1);
    const int saved = SaveNetToFile(7000, path.c_str());
    const std::string after = ReadBytes(path);
    const size_t entries = std::distance(std::filesystem::directory_iterator(mountPoint), {});
    umount(mountPoint.c_str());
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(after, previous);
    EXPECT_EQ(entries, 1u) << "no temporary file left behind";
#endif
}

// Saving replaces a file the way writing it in place would look to its owner: through a link, with its
// permissions, never a file that may not be written, and under a name as long as the system allows.
TEST_F(NetFile, SavingKeepsLinksPermissionsAndLongNames) {
#ifndef __linux__
    GTEST_SKIP() << "links and permission bits are checked on Linux";
#else
    ASSERT_EQ(RegisterUsage(7000, 4, 4, 0), 1);
    const std::string expected = Lines({"4 4 0", "0 0", "0", "0 0"});

    const std::string target = dir.File("target.net"), link = dir.File("link.net");
    WriteBytes(target, "old");
    ASSERT_EQ(symlink("target.net", link.c_str()), 0);
    ASSERT_EQ(SaveNetToFile(7000, link.c_str()), 1);
    struct stat info;
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
    EXPECT_EQ(ReadBytes(target), expected);
    // A link whose target does not exist yet: the target is created.
    ASSERT_EQ(symlink("later.net", dir.File("dangling.net").c_str()), 0);
    ASSERT_EQ(SaveNetToFile(7000, dir.File("dangling.net").c_str()), 1);
    EXPECT_EQ(ReadBytes(dir.File("later.net")), expected);

    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    ASSERT_EQ(SaveNetToFile(7000, target.c_str()), 1);
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    const std::string longName = dir.File(std::string(250, 'n') + ".net");
    EXPECT_EQ(SaveNetToFile(7000, longName.c_str()), 1);
    EXPECT_EQ(ReadBytes(longName), expected);

    if (geteuid() != 0) {  // root may write anything
        ASSERT_EQ(chmod(target.c_str(), 0444), 0);
        EXPECT_EQ(SaveNetToFile(7000, dir.File("dangling.net").c_str()), 1);
        EXPECT_EQ(SaveNetToFile(7000, target.c_str()), 0);
        EXPECT_EQ(SaveNetToFile(7000, link.c_str()), 0);
        chmod(target.c_str(), 0600);
        // A directory that takes no new files: the file is rewritten where it is.
        WriteBytes(target, "old");
        ASSERT_EQ(chmod(dir.Path().string().c_str(), 0500), 0);
        EXPECT_EQ(SaveNetToFile(7000, target.c_str()), 1);
        EXPECT_EQ(SaveNetToFile(7000, dir.File("new.net").c_str()), 0);
        chmod(dir.Path().string().c_str(), 0700);
        EXPECT_EQ(ReadBytes(target), expected);
    }
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"dangling.net", "later.net", "link.net",
                                                     std::string(250, 'n') + ".net", "target.net"}))
        << "no temporary file left behind";
#endif
}

TEST_F(NetFile, NullPathsAndUnknownIds) {
    ReportCapture capture;
    ASSERT_EQ(RegisterUsage(7000, 1, 1, 1), 1);
    EXPECT_EQ(SaveNetToFile(7000, nullptr), 0);
    EXPECT_EQ(LoadNetFromFile(7000, nullptr), 0);
    EXPECT_EQ(AddPatternsFromFile(7000, nullptr), 0);
    EXPECT_EQ(capture.Checks(), (Checks{"path @ Exports", "path @ Exports", "path @ Exports"}));
    capture.Clear();
    EXPECT_EQ(SaveNetToFile(-7000, dir.File("x.net").c_str()), 0);
    EXPECT_EQ(capture.Checks(), (Checks{"it != m_Nets.end() @ NetManager", "net @ Exports"}));
    EXPECT_TRUE(dir.Names().empty()) << "no file is touched for an unknown id";
}

// --- pattern files ----------------------------------------------------------------------------------

class PatternFileTest : public NetFile {};

TEST_F(PatternFileTest, TheExampleInAnyLayout) {
    ASSERT_EQ(RegisterUsage(7000, 3, 1, 1), 1);
    const double first[] = {0, 0, 0, 9};
    ASSERT_EQ(AddPatternsToNet(7000, 1, 3, first, 1, first + 3), 1);
    for (const char* text : {"3 1 2\n1 2 3 7\n4 5 6 8\n", "3 1 2 1 2 3 7 4 5 6 8",
                             "3\n1\n2\n1\n2\n3\n7\n4\n5\n6\n8", "3 1 2\r\n1 2 3 7\r\n4 5 6 8 9 10 more"}) {
        WriteBytes(dir.File("p.txt"), text);
        ASSERT_EQ(AddPatternsFromFile(7000, dir.File("p.txt").c_str()), 1) << text;
    }
    const Net& net = NetOf(7000);
    ASSERT_EQ(net.PatternCount(), 9u);
    EXPECT_EQ(test::StoredInputs(net)[1].ToVector(), (Vector{1, 2, 3}));
    EXPECT_EQ(test::StoredOutputs(net)[2].ToVector(), (Vector{8}));
    EXPECT_EQ(test::StoredInputs(net)[8].ToVector(), (Vector{4, 5, 6}));
    EXPECT_EQ(test::StoredInputs(net)[0].ToVector(), (Vector{0, 0, 0}));
}

TEST_F(PatternFileTest, NoPatternsAddsNothing) {
    ASSERT_EQ(RegisterUsage(7000, 2, 1, 1), 1);
    WriteBytes(dir.File("none.txt"), "2 1 0\n");
    EXPECT_EQ(AddPatternsFromFile(7000, dir.File("none.txt").c_str()), 1);
    // Sizes other than the network's do not matter when there is nothing to add.
    ReportCapture capture;
    WriteBytes(dir.File("other.txt"), "5 4 0\n");
    EXPECT_EQ(AddPatternsFromFile(7000, dir.File("other.txt").c_str()), 1);
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(NetOf(7000).PatternCount(), 0u);
}

TEST_F(PatternFileTest, IncompleteGarbledOrMissingFilesAddNothing) {
    ASSERT_EQ(RegisterUsage(7000, 2, 1, 1), 1);
    const char* files[] = {"2 1 3  1 2 3  4 5 6  7",
                           "",
                           "two one",
                           "2 1 1 0.5 x 1",
                           "2 1 -1 1 2 3",
                           "2 1 4294967295",
                           "4294967295 1 1 1",
                           "0 0 4294967295"};
    int i = 0;
    for (const char* text : files) {
        const std::string path = dir.File("bad" + std::to_string(i++) + ".txt");
        WriteBytes(path, text);
        ReportCapture capture;
        EXPECT_EQ(AddPatternsFromFile(7000, path.c_str()), 0) << text;
        // Refused for what the text holds, never by asking for the memory its header announces.
        for (const std::string& check : capture.Checks()) EXPECT_NE(check, "out of memory @ Exports") << text;
    }
    EXPECT_EQ(AddPatternsFromFile(7000, dir.File("missing.txt").c_str()), 0);
    EXPECT_EQ(AddPatternsFromFile(7000, dir.Path().string().c_str()), 0);
    EXPECT_EQ(NetOf(7000).PatternCount(), 0u);
}

TEST_F(PatternFileTest, OtherSizesAreOneReportAndNothingAdded) {
    ReportCapture capture;
    ASSERT_EQ(RegisterUsage(7000, 2, 1, 1), 1);
    WriteBytes(dir.File("p.txt"), "3 1 2  1 2 3 4  5 6 7 8");
    EXPECT_EQ(AddPatternsFromFile(7000, dir.File("p.txt").c_str()), 0);
    EXPECT_EQ(capture.Checks(),
              Checks{"file.inputSize == net.InputSize() && file.outputSize == net.OutputSize() @ Exports"});
    EXPECT_EQ(NetOf(7000).PatternCount(), 0u);
}

TEST_F(PatternFileTest, FullPrecisionAndNonFiniteValues) {
    ASSERT_EQ(RegisterUsage(7000, 2, 2, 1), 1);
    WriteBytes(dir.File("p.txt"), "2 2 1  0.1234567890123 -1.5e-3  2E+10 -inf");
    ASSERT_EQ(AddPatternsFromFile(7000, dir.File("p.txt").c_str()), 1);
    EXPECT_EQ(test::StoredInputs(NetOf(7000))[0].ToVector(), (Vector{0.1234567890123, -1.5e-3}));
    EXPECT_EQ(test::StoredOutputs(NetOf(7000))[0].ToVector(), (Vector{2e10, -HUGE_VAL}));
}

}  // namespace

namespace {

// A network saved with exact digits loads with every weight's bits, so it runs the same.
TEST(NetFilePrecision, ExactDigitsSaveTheNetworkBitForBit) {
    rcnet::test::TempDir dir;
    rcnet::test::BuildSignalNet(7500, 2, 2, true, 30, 60, 12, 2);
    const double radius = 0.87, scale = 0.37, leak = 0.3;
    ASSERT_EQ(SetNetSpectralRadius(7500, &radius), 1);
    ASSERT_EQ(SetNetInputScaling(7500, &scale), 1);
    ASSERT_EQ(SetNetLeakRate(7500, &leak), 1);
    ASSERT_EQ(SetNetReadoutSolver(7500, 1), 1);
    ASSERT_EQ(LearnNet(7500), 1);
    const std::string six = dir.File("six.net"), exact = dir.File("exact.net"), again = dir.File("again.net");
    ASSERT_EQ(SaveNetToFile(7500, six.c_str()), 1);
    {
        rcnet::test::ReportCapture capture;
        for (int bad : {-1, 1, 5, 18}) EXPECT_EQ(SetNetFilePrecision(7500, bad), 0) << bad;
        EXPECT_EQ(capture.Checks().size(), 4u);
    }
    ASSERT_EQ(SetNetFilePrecision(7500, 0), 1);
    ASSERT_EQ(SaveNetToFile(7500, exact.c_str()), 1);
    ASSERT_EQ(RegisterUsage(7501, 0, 0, 0), 1);
    ASSERT_EQ(SetNetFilePrecision(7501, 0), 1);
    ASSERT_EQ(LoadNetFromFile(7501, exact.c_str()), 1);
    ASSERT_EQ(SaveNetToFile(7501, again.c_str()), 1) << "the setting stays across the load";
    EXPECT_EQ(ReadBytes(exact), ReadBytes(again));
    rcnet::inspect::Network original, loaded;
    ASSERT_TRUE(rcnet::inspect::GetNetwork(7500, original));
    ASSERT_TRUE(rcnet::inspect::GetNetwork(7501, loaded));
    EXPECT_TRUE(rcnet::test::SameBits(original.readout, loaded.readout));
    EXPECT_TRUE(rcnet::test::SameBits(original.inputMatrix, loaded.inputMatrix));
    ASSERT_EQ(original.back.size(), loaded.back.size());
    for (size_t k = 0; k < original.back.size(); ++k)
        ASSERT_EQ(original.back[k].weight, loaded.back[k].weight);
    ASSERT_EQ(ResetNetState(7500), 1);
    for (int t = 0; t < 30; ++t) {
        const double in[2] = {std::sin(0.2 * t), 0.1};
        double x[2], y[2];
        ASSERT_EQ(PropagatePattern(7500, 2, in, 2, x), 1);
        ASSERT_EQ(PropagatePattern(7501, 2, in, 2, y), 1);
        ASSERT_TRUE(rcnet::test::SameBits(std::vector<double>(x, x + 2), std::vector<double>(y, y + 2)));
    }
    UnregisterUsage(7500);
    UnregisterUsage(7501);
}

}  // namespace
