#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "include/rcnet.h"
#include "src/Activations.h"
#include "src/NetManager.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "tests/support/FailingAlloc.h"
#include "tests/support/Levels.h"
#include "tests/support/ModelRandom.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/ReservoireTestAccess.h"
#include "tests/support/SameBits.h"

namespace {

using namespace rcnet;
using rcnet::test::ForEachLevel;
using rcnet::test::ModelRandom;
using rcnet::test::ReportCapture;
using rcnet::test::SameBits;
using Checks = std::vector<std::string>;
using Access = ReservoireTestAccess;

// (source position, target position, weight) of every link, in map order.
using Links = std::vector<std::tuple<size_t, size_t, double>>;
Links LinksOf(const Reservoire& r, bool back) {
    const auto& neurons = r.Neurons();
    Links links;
    for (size_t s = 0; s < neurons.size(); ++s) {
        for (const auto& [connector, weight] : back ? neurons[s]->m_OutgoingBack : neurons[s]->m_Outgoing) {
            size_t t = 0;
            while (neurons[t].get() != connector->m_Neuron) ++t;
            links.emplace_back(s, t, weight);
        }
    }
    return links;
}

TEST(Reservoire, NeuronsAreAppendedInOrderWithConsecutiveIds) {
    Reservoire r;
    r.AddNeurons(3, ETYPE_BISIGMOID);
    r.AddNeurons(2, ETYPE_RSDN);
    r.AddNeurons(0, ETYPE_LINEAR);
    ASSERT_EQ(r.NeuronCount(), 5u);
    for (size_t j = 1; j < 5; ++j) EXPECT_EQ(r.Neurons()[j]->m_Id, r.Neurons()[0]->m_Id + j);
    EXPECT_EQ(r.Neurons()[2]->GetType(), ETYPE_BISIGMOID);
    EXPECT_EQ(r.Neurons()[3]->GetType(), ETYPE_RSDN);
    EXPECT_TRUE(r.InputMatrix().empty());
    EXPECT_TRUE(r.States().empty());
}

TEST(Reservoire, RefusedTypeAddsNothingWithOneReport) {
    ReportCapture capture;
    Reservoire r;
    r.AddNeurons(2, ETYPE_LINEAR);
    const uint32_t lastId = NeuronBase::LastNeuronId();
    r.AddNeurons(1000, ETYPE_UNKNOWN);
    r.AddNeurons(5, 4);
    EXPECT_EQ(r.NeuronCount(), 2u);
    EXPECT_EQ(NeuronBase::LastNeuronId(), lastId);
    EXPECT_EQ(capture.Checks(), (Checks{"false @ Neurons", "false @ Neurons"}));
}

TEST(Reservoire, LinksFollowTheDrawOrderWeightTargetSource) {
    for (uint32_t seed : {1u, 77u, 123456u}) {
        for (bool back : {false, true}) {
            rcnet::srand(seed);
            Reservoire r;
            r.AddNeurons(5, ETYPE_SIGMOID);
            back ? r.AddRandomBackConnections(12) : r.AddRandomConnections(12);

            ModelRandom model{seed};
            std::set<std::pair<size_t, size_t>> taken;
            Links expected;
            while (expected.size() < 12) {
                const double w = model.Weight();
                const size_t t = model.Next() % 5;
                const size_t s = model.Next() % 5;
                if (taken.insert({s, t}).second) expected.emplace_back(s, t, w);
            }
            std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
                return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
            });
            EXPECT_EQ(LinksOf(r, back), expected) << "seed " << seed << (back ? " back" : " forward");
            EXPECT_TRUE(LinksOf(r, !back).empty());
            EXPECT_EQ(rcnet::rand(), model.Next()) << "exactly the attempts' draws were made";
        }
    }
}

TEST(Reservoire, OneNeuronGetsTheSelfLinkOfTheFirstDraw) {
    ReportCapture capture;
    rcnet::srand(9);
    Reservoire r;
    r.AddNeurons(1, ETYPE_LINEAR);
    r.AddRandomConnections(1);
    ModelRandom model{9};
    EXPECT_EQ(LinksOf(r, false), (Links{{0, 0, model.Weight()}}));
    // No free pair is left: the request ends at once and draws nothing.
    model.Next();
    model.Next();
    r.AddRandomConnections(1);
    EXPECT_EQ(capture.Checks(), Checks{"count <= free pairs @ Reservoire"});
    EXPECT_EQ(rcnet::rand(), model.Next());
    EXPECT_EQ(LinksOf(r, false).size(), 1u);
}

TEST(Reservoire, CountsBeyondThePairsDrawNothing) {
    Reservoire r;
    r.AddNeurons(3, ETYPE_SIGMOID);
    r.AddRandomBackConnections(7);

    ReportCapture capture;
    rcnet::srand(5);
    Reservoire empty;
    empty.AddRandomConnections(0);
    empty.AddRandomConnections(1);
    empty.AddRandomBackConnections(1);
    r.AddRandomConnections(10);
    r.AddRandomBackConnections(3);  // 7 taken, 2 free
    EXPECT_EQ(capture.Checks(),
              (Checks{"count <= size*size @ Reservoire", "count <= size*size @ Reservoire",
                      "count <= size*size @ Reservoire", "count <= free pairs @ Reservoire"}));
    EXPECT_EQ(rcnet::rand(), ModelRandom{5}.Next()) << "nothing was drawn";
    EXPECT_EQ(LinksOf(r, true).size(), 7u);

    // Up to the last free pair, the loop still ends.
    r.AddRandomBackConnections(2);
    r.AddRandomConnections(9);
    EXPECT_EQ(LinksOf(r, true).size(), 9u);
    EXPECT_EQ(LinksOf(r, false).size(), 9u);
    EXPECT_EQ(capture.Lines().size(), 4u);
}

TEST(Reservoire, SameSeedSameCallsSameReservoir) {
    auto build = [](uint32_t seed) {
        rcnet::srand(seed);
        auto r = std::make_unique<Reservoire>();
        r->AddNeurons(30, ETYPE_BISIGMOID);
        r->AddNeurons(10, ETYPE_RSDN);
        r->AddRandomConnections(200);
        r->AddRandomBackConnections(150);
        r->InitInputMatrix(4);
        return r;
    };
    auto a = build(31337);
    auto b = build(31337);
    auto c = build(31338);
    EXPECT_EQ(LinksOf(*a, false), LinksOf(*b, false));
    EXPECT_EQ(LinksOf(*a, true), LinksOf(*b, true));
    EXPECT_EQ(a->InputMatrix(), b->InputMatrix());
    EXPECT_NE(LinksOf(*a, false), LinksOf(*c, false));
}

TEST(Reservoire, InputMatrixIsDrawnRowByRow) {
    rcnet::srand(2);
    Reservoire r;
    r.AddNeurons(4, ETYPE_SIGMOID);
    r.InitInputMatrix(3);
    ModelRandom model{2};
    Matrix expected(3, Vector(4));
    for (auto& row : expected)
        for (double& w : row) w = model.Weight();
    EXPECT_EQ(r.InputMatrix(), expected);
    EXPECT_EQ(r.Inputs(), Vector(3, 0.0));
    EXPECT_EQ(r.InputSums(), Vector(4, 0.0));
    EXPECT_EQ(r.States(), Vector(4, 0.0));
    EXPECT_EQ(rcnet::rand(), model.Next()) << "12 draws, no more";

    Reservoire none;
    none.InitInputMatrix(5);
    EXPECT_EQ(none.InputMatrix(), Matrix(5));
    EXPECT_EQ(rcnet::rand(), model.Next()) << "no neurons, no draws";
}

TEST(Reservoire, EmptyInputMatrixMakesStepReport) {
    ReportCapture capture;
    Reservoire r;
    r.AddNeurons(2, ETYPE_SIGMOID);
    r.InitInputMatrix(0);
    EXPECT_TRUE(r.InputMatrix().empty());
    EXPECT_TRUE(r.Inputs().empty());
    r.Step();
    EXPECT_EQ(capture.Checks(),
              Checks{"m_InputMatrix.size() > 0 && m_InputMatrix[0].size() == jSize @ Reservoire"});
    EXPECT_EQ(r.GetState(), (Vector{0.5, 0.5})) << "unlinked sigmoid neurons end every step at f(0)";
}

TEST(Reservoire, LinearSelfLinkClosedForm) {
    Reservoire r;
    r.AddNeurons(1, ETYPE_LINEAR);
    r.AddRandomConnections(1);
    r.InitInputMatrix(1);
    const double w = std::get<2>(LinksOf(r, false)[0]);
    const double m = r.InputMatrix()[0][0];
    const double a = 0.7;
    r.SetInputs({a});
    r.Step();
    EXPECT_EQ(r.GetState(), (Vector{w * (m * a)}));
}

TEST(Reservoire, SigmoidBackSelfLinkCarriesThePreviousState) {
    rcnet::srand(4);
    Reservoire r;
    r.AddNeurons(1, ETYPE_SIGMOID);
    r.AddRandomBackConnections(1);
    r.InitInputMatrix(1);
    const double b = std::get<2>(LinksOf(r, true)[0]);
    r.SetInputs({3.0});
    r.Step();
    EXPECT_EQ(r.GetState(), (Vector{0.5}));
    r.SetInputs({-8.0});
    r.Step();
    EXPECT_EQ(r.GetState(), (Vector{SigmoidFunction::Value(b * 0.5)}));
    EXPECT_EQ(r.Neurons()[0]->m_PrevState, 0.5);
}

TEST(Reservoire, WrongInputLengthIsReportedAndStillTaken) {
    ReportCapture capture;
    Reservoire r;
    r.AddNeurons(2, ETYPE_LINEAR);
    r.InitInputMatrix(2);
    r.SetInputs({1, 2, 3});
    EXPECT_EQ(r.Inputs(), (Vector{1, 2, 3}));
    r.Step();  // three inputs, two matrix rows: the third input has no row
    EXPECT_EQ(r.InputSums()[0], r.InputMatrix()[1][0] * 2 + r.InputMatrix()[0][0] * 1);
    r.SetInputs({4});
    r.Step();  // one input: only the first row is used
    EXPECT_EQ(r.InputSums()[1], r.InputMatrix()[0][1] * 4);
    EXPECT_EQ(capture.Checks(), (Checks{"inputs.size() == m_Inputs.size() @ Reservoire",
                                        "iSize == m_InputMatrix.size() @ Reservoire",
                                        "inputs.size() == m_Inputs.size() @ Reservoire",
                                        "iSize == m_InputMatrix.size() @ Reservoire"}));
}

TEST(Reservoire, NeuronsAddedAfterTheMatrixAreNotStepped) {
    ReportCapture capture;
    rcnet::srand(11);
    Reservoire r;
    r.AddNeurons(3, ETYPE_BISIGMOID);
    r.AddRandomConnections(4);
    r.InitInputMatrix(1);
    r.SetInputs({0.5});
    r.Step();
    r.AddNeurons(2, ETYPE_SIGMOID);
    r.Step();
    EXPECT_EQ(capture.Checks(), Checks{"jSize == m_Neurons.size() @ Reservoire"});
    EXPECT_EQ(r.GetState().size(), 3u);
    EXPECT_EQ(r.Neurons()[4]->m_State, 0.0) << "an unlinked late neuron was never touched";
}

// A random reservoir of mixed types, built the same way twice: one copy steps through the library's flat
// plan, the other through the plain map walk. Every state and every neuron value must agree bit for bit;
// a third of the trials with leaky neurons.
TEST(Reservoire, FastStepMatchesTheMapWalkBitForBit) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 12; ++trial) {
        const uint32_t seed = rng();
        const int inputs = 1 + trial % 3;
        auto build = [&](Reservoire& r) {
            rcnet::srand(seed);
            for (int part = 0; part < 4; ++part) r.AddNeurons(5 + (seed >> part) % 20, (part + trial) % 4);
            const uint32_t n = r.NeuronCount();
            r.AddRandomConnections(n * (1 + trial % 5));
            r.AddRandomBackConnections(n * (trial % 4));
            r.InitInputMatrix(inputs);
            if (trial % 3 == 1) {
                ASSERT_TRUE(r.SetLeakRate(0.3 + 0.01 * trial));
            }
        };
        Reservoire fast, plain;
        build(fast);
        build(plain);
        ReportCapture capture;
        std::mt19937 signal(seed);
        std::uniform_real_distribution<double> value(-2.0, 2.0);
        for (int step = 0; step < 60; ++step) {
            if (step == 40 && trial % 2) {  // a late neuron and link: the plan must be rebuilt
                for (Reservoire* r : {&fast, &plain}) {
                    rcnet::srand(seed + 1);
                    r->AddNeurons(3, ETYPE_LINEAR);
                    r->AddRandomBackConnections(5);
                }
            }
            Vector in(inputs);
            for (double& x : in) x = value(signal);
            fast.SetInputs(in);
            fast.Step();
            plain.SetInputs(in);
            Access::ReferenceStep(plain);
            ASSERT_TRUE(SameBits(fast.GetState(), plain.GetState())) << "trial " << trial << " step " << step;
            ASSERT_TRUE(SameBits(fast.InputSums(), plain.InputSums()));
        }
        const auto& a = fast.Neurons();
        const auto& b = plain.Neurons();
        ASSERT_EQ(a.size(), b.size());
        for (size_t j = 0; j < a.size(); ++j) {
            EXPECT_TRUE(SameBits({a[j]->m_Input, a[j]->m_InputActivation, a[j]->m_PrevState, a[j]->m_State},
                                 {b[j]->m_Input, b[j]->m_InputActivation, b[j]->m_PrevState, b[j]->m_State}))
                << "trial " << trial << " neuron " << j;
        }
    }
}

// Bitwise equal, except that any NaN equals any NaN. When two NaNs meet in an addition the processor
// returns the first operand's, and compilers order the operands of a commutative addition as they like,
// in the map walk as anywhere; so a NaN fed in by the host (+NaN) meeting one made by the arithmetic
// (the processor's -NaN) may come out either way.
bool SameValues(const Vector& a, const Vector& b) {
    if (a.size() != b.size()) return false;
    for (size_t j = 0; j < a.size(); ++j)
        if (!(std::isnan(a[j]) && std::isnan(b[j])) && !SameBits(Vector{a[j]}, Vector{b[j]})) return false;
    return true;
}

// Every instruction set's step against the map walk, with inputs that reach every branch of the
// activations: saturation, Exp()'s edges, zeros and infinities (strictly the same bits), and NaN inputs;
// and big reservoirs whose neurons have many terms (the sums run in lanes of neurons).
TEST(Reservoire, EveryInstructionSetStepsLikeTheMapWalk) {
    ForEachLevel([](cpu::Level) {
        for (int trial = 0; trial < 8; ++trial) {
            const uint32_t seed = 900 + trial;
            const bool hostNaN = trial >= 6;
            auto build = [&](Reservoire& r) {
                rcnet::srand(seed);
                const uint32_t n = trial % 6 < 3 ? 37 + trial * 50 : 300;
                for (int type = 0; type < 4; ++type)
                    r.AddNeurons(n / 4 + (type == trial % 4 ? n % 4 : 0), type);
                if (trial == 5) r.AddNeurons(n, ETYPE_BISIGMOID);
                r.AddRandomConnections(r.NeuronCount() * (2 + trial));
                r.AddRandomBackConnections(r.NeuronCount() * (1 + trial % 3));
                r.InitInputMatrix(3);
                if (trial % 2) {
                    ASSERT_TRUE(r.SetLeakRate(trial == 7 ? 0x1p-30 : 0.1 * trial));
                }
            };
            Reservoire fast, plain;
            build(fast);
            build(plain);
            ReportCapture quiet;
            std::mt19937 signal(seed);
            std::uniform_real_distribution<double> value(-30.0, 30.0);
            const double inf = std::numeric_limits<double>::infinity();
            const double edges[] = {0.0,
                                    -0.0,
                                    1e-300,
                                    0x1p-60,
                                    25.0,
                                    -25.0,
                                    700.0,
                                    -800.0,
                                    inf,
                                    -inf,
                                    std::numeric_limits<double>::quiet_NaN()};
            for (int step = 0; step < 40; ++step) {
                Vector in(3);
                for (double& x : in)
                    x = step % 5 == 4 ? edges[signal() % (hostNaN ? 11 : 10)] : value(signal) * (step % 3);
                fast.SetInputs(in);
                fast.Step();
                plain.SetInputs(in);
                Access::ReferenceStep(plain);
                if (hostNaN) {
                    ASSERT_TRUE(SameValues(fast.GetState(), plain.GetState()))
                        << "trial " << trial << " step " << step;
                } else {
                    ASSERT_TRUE(SameBits(fast.GetState(), plain.GetState()))
                        << "trial " << trial << " step " << step;
                }
            }
        }
    });
}

TEST(Reservoire, ClearEmptiesEverything) {
    Reservoire r;
    r.AddNeurons(4, ETYPE_RSDN);
    r.AddRandomConnections(5);
    r.InitInputMatrix(2);
    r.SetInputs({1, 1});
    r.Step();
    std::weak_ptr<NeuronBase> watch = r.Neurons()[0];
    r.Clear();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(r.NeuronCount(), 0u);
    EXPECT_TRUE(r.Inputs().empty() && r.InputMatrix().empty() && r.InputSums().empty() && r.States().empty());
}

// Every link of both kinds, in both directions, as (source id, weight, target id, kind).
std::vector<std::tuple<uint32_t, double, uint32_t, int>> AllLinks(const Reservoire& r) {
    std::vector<std::tuple<uint32_t, double, uint32_t, int>> links;
    for (const NeuronRef& n : r.Neurons()) {
        int kind = 0;
        for (const LinkMap* map : {&n->m_Outgoing, &n->m_OutgoingBack, &n->m_Incoming, &n->m_IncomingBack}) {
            for (const auto& [c, w] : *map) links.emplace_back(n->m_Id, w, c->m_Neuron->m_Id, kind);
            ++kind;
        }
    }
    return links;
}

TEST(Reservoire, OutOfMemoryWhileLinkingKeepsNoLinkAndNoDraw) {
    for (bool back : {false, true}) {
        rcnet::srand(41);
        Reservoire r;
        r.AddNeurons(12, ETYPE_BISIGMOID);
        r.AddRandomConnections(10);
        r.AddRandomBackConnections(10);
        const auto before = AllLinks(r);
        const uint32_t state = RandomState();
        const long allocations = rcnet::test::ForEachAllocationFailure(
            [&] {
                try {
                    back ? r.AddRandomBackConnections(40) : r.AddRandomConnections(40);
                } catch (const std::bad_alloc&) {
                }
            },
            [&](long k, bool failed) {
                if (failed) {
                    EXPECT_EQ(AllLinks(r), before) << "allocation " << k;
                    EXPECT_EQ(RandomState(), state) << "allocation " << k;
                } else {
                    EXPECT_EQ(AllLinks(r).size(), before.size() + 80);
                }
            });
        EXPECT_GT(allocations, 40);
        const uint32_t after = RandomState();
        // What succeeds at last is what the same draws make without any failure.
        rcnet::srand(41);
        Reservoire same;
        same.AddNeurons(12, ETYPE_BISIGMOID);
        same.AddRandomConnections(10);
        same.AddRandomBackConnections(10);
        back ? same.AddRandomBackConnections(40) : same.AddRandomConnections(40);
        EXPECT_EQ(RandomState(), after);
        std::vector<std::tuple<double, int>> a, b;
        for (const auto& link : AllLinks(r)) a.emplace_back(std::get<1>(link), std::get<3>(link));
        for (const auto& link : AllLinks(same)) b.emplace_back(std::get<1>(link), std::get<3>(link));
        EXPECT_EQ(a, b);
    }
}

TEST(Reservoire, OutOfMemoryWhileLinkingThroughTheExportReportsAndKeepsNothing) {
    ASSERT_EQ(RegisterUsage(81, 1, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(81, 30, 0), 1);
    const Reservoire& r = NetManager::Instance().GetNet(81)->Reservoir();
    const uint32_t state = RandomState();
    ReportCapture capture;
    {
        // Far into the draws: a few hundred links are in place when memory runs out.
        rcnet::test::FailingAlloc failing(600);
        EXPECT_EQ(AddRandomConnectionsToNet(81, 800), 0);
        EXPECT_TRUE(failing.Fired());
    }
    EXPECT_EQ(capture.Checks(), Checks{"out of memory @ Exports"});
    EXPECT_TRUE(AllLinks(r).empty());
    EXPECT_EQ(RandomState(), state);
    UnregisterUsage(81);
}

}  // namespace
