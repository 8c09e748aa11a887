// The reservoir settings through the exports: the back links' spectral radius, the input scaling, the
// leak rate and the bias, with their records in network files.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "platform/Files.h"
#include "src/EigenvalueRadius.h"
#include "tests/support/DenseLinks.h"
#include "tests/support/Internals.h"
#include "tests/support/Levels.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReferenceNet.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/SignalNet.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::BuildSignalNet;
using rcnet::test::ForEachLevel;
using rcnet::test::NetOf;
using rcnet::test::ReadBytes;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using rcnet::test::WriteBytes;
using Checks = std::vector<std::string>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class ReservoirSettings : public test::NetIdsTest<7100, 10> {
protected:
    // Twins 7105 and 7106, built alike with setting(id) applied to each: the library's training and
    // propagation on 7105 give the plain twin's bits on 7106.
    template <typename Setting>
    void ExpectThePlainTwinsBits(bool threshold, Setting&& setting) {
        for (int id : {7105, 7106}) {
            BuildSignalNet(id, 2, 2, threshold, 60, 80, 11, 2);
            setting(id);
        }
        ASSERT_EQ(LearnNet(7105), 1);
        ASSERT_TRUE(SameBits(NetOf(7105).OutputWeights(), NetTestAccess::ReferenceLearn(NetOf(7106))));
        for (int step = 0; step < 30; ++step) {
            const Vector input{std::cos(step * 0.4), 0.5};
            double out[2];
            ASSERT_EQ(PropagatePattern(7105, 2, input.data(), 2, out), 1);
            ASSERT_TRUE(
                SameBits(Vector(out, out + 2), NetTestAccess::ReferencePropagate(NetOf(7106), input)));
        }
        UnregisterUsage(7105);
        UnregisterUsage(7106);
    }
    test::TempDir dir;
};

using rcnet::test::DenseBackLinks;

double DenseRadius(const Reservoire& r) {
    const double radius = rcnet::test::DenseBackLinkRadius(r);
    EXPECT_FALSE(std::isnan(radius));
    return radius;
}

TEST_F(ReservoirSettings, RadiusIsTheBackLinkMatrixsAndScalesToTheTarget) {
    BuildSignalNet(7100, 1, 1, true, 200, 10, 3, 3);
    ASSERT_EQ(AddRandomBackConnectionsToNet(7100, 1600), 1);  // one strongly connected block: Arnoldi
    Reservoire& r = NetOf(7100).Reservoir();
    double radius = 0;
    ASSERT_EQ(GetNetSpectralRadius(7100, &radius), 1);
    const double dense = DenseRadius(r);
    EXPECT_NEAR(radius, dense, 1e-9 * dense);
    EXPECT_GT(radius, 1.0);

    const auto forward = r.Neurons()[5]->m_Outgoing;
    const Matrix inputs = r.InputMatrix();
    const std::vector<double> before = DenseBackLinks(r);
    const double target = 0.85;
    ASSERT_EQ(SetNetSpectralRadius(7100, &target), 1);
    double after = 0;
    ASSERT_EQ(GetNetSpectralRadius(7100, &after), 1);
    EXPECT_NEAR(after, target, 1e-9 * target);
    EXPECT_NEAR(DenseRadius(r), target, 1e-9 * target);
    // One factor for every back link; forward links and the input matrix untouched.
    const std::vector<double> scaled = DenseBackLinks(r);
    const double factor = target / radius;
    for (size_t k = 0; k < before.size(); ++k) ASSERT_EQ(scaled[k], before[k] * factor);
    EXPECT_TRUE(r.Neurons()[5]->m_Outgoing == forward);
    EXPECT_TRUE(SameBits(r.InputMatrix(), inputs));
    // The incoming maps are the step's view of the same links.
    for (const NeuronRef& neuron : r.Neurons())
        for (const auto& [connector, weight] : neuron->m_OutgoingBack)
            ASSERT_EQ(connector->m_Neuron->m_IncomingBack.at(neuron->m_Connector), weight);
}

TEST_F(ReservoirSettings, RadiusRefusals) {
    ASSERT_EQ(RegisterUsage(7101, 1, 1, 1), 1);
    ASSERT_EQ(AddNeuronsToNet(7101, 20, 1), 1);
    ASSERT_EQ(AddRandomConnectionsToNet(7101, 40), 1);
    double radius = -1;
    ASSERT_EQ(GetNetSpectralRadius(7101, &radius), 1);
    EXPECT_EQ(radius, 0.0) << "no back links";
    ReportCapture capture;
    const double target = 0.9;
    EXPECT_EQ(SetNetSpectralRadius(7101, &target), 0) << "nothing to scale";
    EXPECT_EQ(GetNetSpectralRadius(7101, nullptr), 0);
    EXPECT_EQ(SetNetSpectralRadius(7101, nullptr), 0);
    EXPECT_EQ(GetNetSpectralRadius(7199, &radius), 0);
    ASSERT_EQ(AddRandomBackConnectionsToNet(7101, 60), 1);
    const std::vector<double> before = DenseBackLinks(NetOf(7101).Reservoir());
    for (double bad : {0.0, -0.5, kNaN, kInf, -kInf}) EXPECT_EQ(SetNetSpectralRadius(7101, &bad), 0) << bad;
    EXPECT_TRUE(SameBits(DenseBackLinks(NetOf(7101).Reservoir()), before));
    const double tiny = 1e-300, huge = std::numeric_limits<double>::max();
    ASSERT_EQ(SetNetSpectralRadius(7101, &tiny), 1);
    const std::vector<double> small = DenseBackLinks(NetOf(7101).Reservoir());
    EXPECT_EQ(SetNetSpectralRadius(7101, &huge), 0) << "the weights would overflow";
    EXPECT_TRUE(SameBits(DenseBackLinks(NetOf(7101).Reservoir()), small));
    // Subnormal weights would leave a radius that can no longer be read (nor reached).
    const double subnormal = 1e-310;
    EXPECT_EQ(SetNetSpectralRadius(7101, &subnormal), 0);
    EXPECT_TRUE(SameBits(DenseBackLinks(NetOf(7101).Reservoir()), small));
    ASSERT_EQ(GetNetSpectralRadius(7101, &radius), 1);
    EXPECT_NEAR(radius, tiny, 1e-9 * tiny);
    EXPECT_EQ(capture.Checks(), (Checks{"std::isfinite(radius) && radius > 0 @ Reservoire", "out @ Exports",
                                        "radius @ Exports", "it != m_Nets.end() @ NetManager",
                                        "net @ Exports", "std::isfinite(target) && target > 0 @ Reservoire",
                                        "std::isfinite(target) && target > 0 @ Reservoire",
                                        "std::isfinite(target) && target > 0 @ Reservoire",
                                        "std::isfinite(target) && target > 0 @ Reservoire",
                                        "std::isfinite(target) && target > 0 @ Reservoire",
                                        "finite @ Reservoire", "normal @ Reservoire"}));
}

TEST_F(ReservoirSettings, InputScalingMultipliesEveryEntryAndIsSaved) {
    BuildSignalNet(7102, 3, 1, true, 30, 10, 5, 0);
    const Matrix before = NetOf(7102).Reservoir().InputMatrix();
    const double scale = -0.37;
    ASSERT_EQ(SetNetInputScaling(7102, &scale), 1);
    const Matrix& after = NetOf(7102).Reservoir().InputMatrix();
    ASSERT_EQ(after.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 30; ++j) ASSERT_EQ(after[i][j], before[i][j] * scale);
    const std::string path = dir.File("scaled.net");
    ASSERT_EQ(SaveNetToFile(7102, path.c_str()), 1);
    ASSERT_EQ(RegisterUsage(7103, 3, 1, 1), 1);
    ASSERT_EQ(LoadNetFromFile(7103, path.c_str()), 1);
    const Matrix& loaded = NetOf(7103).Reservoir().InputMatrix();
    EXPECT_NEAR(loaded[1][7], after[1][7], 1e-6 * std::abs(after[1][7]));

    ReportCapture capture;
    for (double bad : {kNaN, kInf}) EXPECT_EQ(SetNetInputScaling(7102, &bad), 0);
    EXPECT_EQ(SetNetInputScaling(7102, nullptr), 0);
    ASSERT_EQ(RegisterUsage(7104, 1, 1, 1), 1);
    ASSERT_EQ(AddNeuronsToNet(7104, 5, 1), 1);
    EXPECT_EQ(SetNetInputScaling(7104, &scale), 0) << "no input matrix yet: the scale would be lost";
    // A scale taken once but not twice: the second would leave infinite weights.
    const double large = 1e200;
    ASSERT_EQ(SetNetInputScaling(7102, &large), 1);
    const Matrix once = NetOf(7102).Reservoir().InputMatrix();
    EXPECT_EQ(SetNetInputScaling(7102, &large), 0);
    EXPECT_EQ(capture.Checks(),
              (Checks{"std::isfinite(scale) @ Reservoire", "std::isfinite(scale) @ Reservoire",
                      "scale @ Exports", "!m_InputMatrix.empty() @ Reservoire", "finite @ Reservoire"}));
    EXPECT_TRUE(SameBits(NetOf(7102).Reservoir().InputMatrix(), once));
}

// Training and propagation with leaky neurons against the plain twin, on every instruction set.
TEST_F(ReservoirSettings, LeakyTrainingMatchesThePlainTwin) {
    ForEachLevel([&](cpu::Level) {
        for (bool threshold : {true, false}) {
            ExpectThePlainTwinsBits(threshold, [](int id) {
                const double rate = 0.35;
                ASSERT_EQ(SetNetLeakRate(id, &rate), 1);
            });
        }
    });
}

TEST_F(ReservoirSettings, LeakRateBounds) {
    BuildSignalNet(7105, 1, 1, true, 10, 5, 1, 1);
    ReportCapture capture;
    for (double bad : {0.0, -0.0, -0.1, 1.0000000000000002, kNaN, kInf})
        EXPECT_EQ(SetNetLeakRate(7105, &bad), 0) << bad;
    EXPECT_EQ(SetNetLeakRate(7105, nullptr), 0);
    EXPECT_EQ(NetOf(7105).Reservoir().LeakRate(), 1.0);
    EXPECT_EQ(capture.Checks().size(), 7u);
    for (double good : {1e-300, 0.5, 1.0}) EXPECT_EQ(SetNetLeakRate(7105, &good), 1) << good;
}

// A leak rate below 1 is a record after the input matrix; 1 writes the plain file byte for byte.
TEST_F(ReservoirSettings, LeakRateRecordRoundTrips) {
    BuildSignalNet(7105, 1, 1, true, 24, 60, 9, 1);
    ASSERT_EQ(SetNetReadoutSolver(7105, 1), 1);
    ASSERT_EQ(LearnNet(7105), 1);
    const std::string plain = dir.File("plain.net"), leaky = dir.File("leaky.net"),
                      back = dir.File("back.net");
    ASSERT_EQ(SaveNetToFile(7105, plain.c_str()), 1);
    const double one = 1.0, rate = 0.1 + 0.2;  // 0.30000000000000004: every digit must survive
    ASSERT_EQ(SetNetLeakRate(7105, &rate), 1);
    ASSERT_EQ(SaveNetToFile(7105, leaky.c_str()), 1);
    ASSERT_EQ(SetNetLeakRate(7105, &one), 1);
    ASSERT_EQ(SaveNetToFile(7105, back.c_str()), 1);
    EXPECT_EQ(ReadBytes(back), ReadBytes(plain));
    const std::string leakyText = ReadBytes(leaky);
    ASSERT_EQ(leakyText.substr(0, ReadBytes(plain).size()), ReadBytes(plain)) << "the record only follows";
#ifdef _WIN32
    EXPECT_EQ(leakyText.substr(ReadBytes(plain).size()), "leak-rate 0.30000000000000004\r\n");
#else
    EXPECT_EQ(leakyText.substr(ReadBytes(plain).size()), "leak-rate 0.30000000000000004\n");
#endif

    // Loaded, the leaky network steps like the original from zero states.
    ASSERT_EQ(SetNetLeakRate(7105, &rate), 1);
    ASSERT_EQ(ResetNetState(7105), 1);
    ASSERT_EQ(RegisterUsage(7107, 0, 0, 0), 1);
    ASSERT_EQ(LoadNetFromFile(7107, leaky.c_str()), 1);
    EXPECT_EQ(NetOf(7107).Reservoir().LeakRate(), rate);
    ASSERT_EQ(LoadNetFromFile(7105, leaky.c_str()), 1);  // the original's weights as the file has them
    ASSERT_EQ(RegisterUsage(7108, 1, 1, 1), 1);
    ASSERT_EQ(LoadNetFromFile(7108, plain.c_str()), 1);
    for (int step = 0; step < 20; ++step) {
        const double in = std::sin(0.3 * step);
        double a = 0, b = 0, c = 0;
        ASSERT_EQ(PropagatePattern(7105, 1, &in, 1, &a), 1);
        ASSERT_EQ(PropagatePattern(7107, 1, &in, 1, &b), 1);
        ASSERT_EQ(PropagatePattern(7108, 1, &in, 1, &c), 1);
        ASSERT_TRUE(SameBits(Vector{a}, Vector{b})) << step;
        Vector leakyState(24), plainState(24);
        ASSERT_EQ(GetNetState(7105, 24, leakyState.data()), 1);
        ASSERT_EQ(GetNetState(7108, 24, plainState.data()), 1);
        if (step > 0) {
            EXPECT_NE(leakyState, plainState) << "the leak changes how it runs";
        }
    }
    // A file without the record loads with rate 1, whatever the network had.
    ASSERT_EQ(LoadNetFromFile(7107, plain.c_str()), 1);
    EXPECT_EQ(NetOf(7107).Reservoir().LeakRate(), 1.0);
}

TEST_F(ReservoirSettings, BadLeakRateRecordsAreRefusedWholly) {
    BuildSignalNet(7105, 1, 1, true, 12, 30, 4, 3);
    ASSERT_EQ(LearnNet(7105), 1);
    const std::string plain = dir.File("plain.net"), bad = dir.File("bad.net");
    ASSERT_EQ(SaveNetToFile(7105, plain.c_str()), 1);
    const std::string text = ReadBytes(plain);
    ASSERT_EQ(RegisterUsage(7107, 0, 0, 0), 1);
    const double rate = 0.5;
    ASSERT_EQ(SetNetLeakRate(7107, &rate), 1);
    for (const char* record : {"leak-rate 0\n", "leak-rate 1.5\n", "leak-rate -0.2\n", "leak-rate nan\n",
                               "leak-rate\n", "leak-rate x\n"}) {
        WriteBytes(bad, text + record);
        EXPECT_EQ(LoadNetFromFile(7107, bad.c_str()), 0) << record;
        EXPECT_EQ(NetOf(7107).Reservoir().NeuronCount(), 0u) << record;
        EXPECT_EQ(NetOf(7107).Reservoir().LeakRate(), 0.5) << "a refused load changes nothing";
    }
    // Other text after the input matrix is ignored, as before.
    for (const char* tail : {"end\n", "leak-rates 0.5\n", "0.5 leak-rate\n"}) {
        WriteBytes(bad, text + tail);
        EXPECT_EQ(LoadNetFromFile(7107, bad.c_str()), 1) << tail;
        EXPECT_EQ(NetOf(7107).Reservoir().LeakRate(), 1.0) << tail;
    }
    WriteBytes(bad, text + "  \n\n leak-rate\t0.25e0 trailing words");
    EXPECT_EQ(LoadNetFromFile(7107, bad.c_str()), 1);
    EXPECT_EQ(NetOf(7107).Reservoir().LeakRate(), 0.25);
}

}  // namespace

namespace {

// Draws the same bias into both networks (the generator belongs to the calling thread).
void DrawBias(int id, uint32_t seed, double scaling) {
    Randomize(seed);
    ASSERT_EQ(InitNetBias(id, &scaling), 1);
}

// Training and propagation with a bias against the plain twin (a last input of constant 1), on every
// instruction set.
TEST_F(ReservoirSettings, BiasedTrainingMatchesThePlainTwin) {
    ForEachLevel([&](cpu::Level) { ExpectThePlainTwinsBits(true, [](int id) { DrawBias(id, 9, 0.8); }); });
}

// The bias gives the bits of a host that appends an input of constant 1 whose input weights are the bias.
TEST_F(ReservoirSettings, BiasIsALastInputOfOne) {
    BuildSignalNet(7105, 1, 1, true, 30, 60, 5, 1);
    DrawBias(7105, 3, 0.5);
    ASSERT_EQ(LearnNet(7105), 1);
    const std::string file = dir.File("biased.net");
    ASSERT_EQ(SetNetFilePrecision(7105, 0), 1);
    ASSERT_EQ(SaveNetToFile(7105, file.c_str()), 1);
    ASSERT_EQ(RegisterUsage(7106, 0, 0, 0), 1);
    ASSERT_EQ(LoadNetFromFile(7106, file.c_str()), 1);
    ASSERT_EQ(LoadNetFromFile(7105, file.c_str()), 1);  // both from rest
    // The twin: two inputs, the second's row of the input matrix the bias, and no bias.
    Reservoire& twin = NetOf(7106).Reservoir();
    Vector bias(30);
    ASSERT_EQ(GetNetBias(7105, 30, bias.data()), 1);
    EXPECT_TRUE(SameBits(bias, NetOf(7105).Reservoir().Bias()));
    ReservoireTestAccess::InputMatrix(twin).push_back(bias);
    (twin.*MemberOf(test::InputsTag{})).resize(2);
    NetOf(7106).*MemberOf(test::NetInputSizeTag{}) = 2;
    twin.SetBias({});
    for (int step = 0; step < 40; ++step) {
        const double in = std::sin(0.2 * step), ins[2] = {in, 1.0};
        double a = 0, b = 0;
        ASSERT_EQ(PropagatePattern(7105, 1, &in, 1, &a), 1);
        ASSERT_EQ(PropagatePattern(7106, 2, ins, 1, &b), 1);
        ASSERT_TRUE(SameBits(Vector{a}, Vector{b})) << step;
    }
    Vector biased(30), plain(30);
    ASSERT_EQ(GetNetState(7105, 30, biased.data()), 1);
    ASSERT_EQ(GetNetState(7106, 30, plain.data()), 1);
    EXPECT_TRUE(SameBits(biased, plain));
}

TEST_F(ReservoirSettings, BiasRefusalsChangeNothing) {
    ASSERT_EQ(RegisterUsage(7105, 1, 1, 1), 1);
    ReportCapture capture;
    const double half = 0.5;
    EXPECT_EQ(InitNetBias(7105, &half), 0) << "no neurons yet";
    ASSERT_EQ(AddNeuronsToNet(7105, 4, 1), 1);
    ASSERT_EQ(InitNetBias(7105, &half), 1);
    const Vector drawn = NetOf(7105).Reservoir().Bias();
    ASSERT_EQ(drawn.size(), 4u);
    for (double value : drawn) EXPECT_TRUE(value != 0 && std::fabs(value) <= 0.5) << value;
    for (double bad : {kNaN, kInf, -kInf}) EXPECT_EQ(InitNetBias(7105, &bad), 0) << bad;
    EXPECT_EQ(InitNetBias(7105, nullptr), 0);
    EXPECT_TRUE(SameBits(NetOf(7105).Reservoir().Bias(), drawn));
    Vector out(5, 9.0);
    EXPECT_EQ(GetNetBias(7105, 5, out.data()), 0) << "the neuron count is 4";
    EXPECT_EQ(GetNetBias(7105, 4, nullptr), 0);
    // Neurons added later have none.
    ASSERT_EQ(AddNeuronsToNet(7105, 1, 1), 1);
    ASSERT_EQ(GetNetBias(7105, 5, out.data()), 1);
    EXPECT_TRUE(SameBits(Vector(out.begin(), out.begin() + 4), drawn) && out[4] == 0.0);
    const double zero = 0;
    ASSERT_EQ(InitNetBias(7105, &zero), 1);
    EXPECT_TRUE(NetOf(7105).Reservoir().Bias().empty());
}

// A bias is a record after the reservoir, every digit; a network without one writes the plain file.
TEST_F(ReservoirSettings, BiasRecordRoundTripsAndBadOnesAreRefused) {
    BuildSignalNet(7105, 1, 1, true, 12, 30, 4, 3);
    ASSERT_EQ(LearnNet(7105), 1);
    const std::string plain = dir.File("plain.net"), biased = dir.File("biased.net"),
                      back = dir.File("back.net"), bad = dir.File("bad.net");
    ASSERT_EQ(SaveNetToFile(7105, plain.c_str()), 1);
    const double rate = 0.5, zero = 0;
    ASSERT_EQ(SetNetLeakRate(7105, &rate), 1);
    DrawBias(7105, 21, 0.1 + 0.2);
    ASSERT_EQ(SaveNetToFile(7105, biased.c_str()), 1);
    ASSERT_EQ(InitNetBias(7105, &zero), 1);
    const double one = 1;
    ASSERT_EQ(SetNetLeakRate(7105, &one), 1);
    ASSERT_EQ(SaveNetToFile(7105, back.c_str()), 1);
    EXPECT_EQ(ReadBytes(back), ReadBytes(plain)) << "no bias: the plain file, byte for byte";
    const std::string text = ReadBytes(plain), biasedText = ReadBytes(biased);
    ASSERT_EQ(biasedText.substr(0, text.size()), text);
    const std::string records = std::string("leak-rate 0.5") + platform::kLineEnd + "bias 12 ";
    EXPECT_EQ(biasedText.substr(text.size(), records.size()), records);

    ASSERT_EQ(RegisterUsage(7107, 0, 0, 0), 1);
    ASSERT_EQ(LoadNetFromFile(7107, biased.c_str()), 1);
    DrawBias(7105, 21, 0.1 + 0.2);
    EXPECT_TRUE(SameBits(NetOf(7107).Reservoir().Bias(), NetOf(7105).Reservoir().Bias())) << "every bit";
    ASSERT_EQ(SaveNetToFile(7107, back.c_str()), 1);
    EXPECT_EQ(ReadBytes(back), biasedText);

    ReportCapture capture;
    const std::string leak = std::string("leak-rate 0.5") + platform::kLineEnd;
    for (const char* record : {"bias 0\n", "bias 13 1 2 3 4 5 6 7 8 9 10 11 12 13\n", "bias 2 0.5 nan\n",
                               "bias 2 0.5 inf\n", "bias 2 0.5\n", "bias x\n", "bias\n"}) {
        WriteBytes(bad, text + leak + record);
        EXPECT_EQ(LoadNetFromFile(7107, bad.c_str()), 0) << record;
        EXPECT_EQ(NetOf(7107).Reservoir().Bias().size(), 12u) << "a refused load changes nothing";
    }
    WriteBytes(bad, text + "bias 2 0.5 -0.25\n");  // without the leak rate, for the first two neurons
    ASSERT_EQ(LoadNetFromFile(7107, bad.c_str()), 1);
    EXPECT_EQ(NetOf(7107).Reservoir().Bias(), (Vector{0.5, -0.25}));
    WriteBytes(bad, text + "biases 1 0.5\n");
    ASSERT_EQ(LoadNetFromFile(7107, bad.c_str()), 1);
    EXPECT_TRUE(NetOf(7107).Reservoir().Bias().empty()) << "other text after the input matrix is ignored";
}

}  // namespace
