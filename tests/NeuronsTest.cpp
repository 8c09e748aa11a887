#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "src/Activations.h"
#include "tests/support/ReportCapture.h"

namespace {

using namespace rcnet;
using rcnet::test::ReportCapture;

TEST(Activation, SigmoidSaturatesStrictlyOutsideTwenty) {
    EXPECT_EQ(SigmoidFunction::Value(20.5), 1.0);
    EXPECT_EQ(SigmoidFunction::Value(-20.5), 0.0);
    EXPECT_EQ(SigmoidFunction::Value(20), 1 - 1 / (std::exp(20.0) + 1));
    EXPECT_LT(SigmoidFunction::Value(20), 1.0);
    EXPECT_GT(SigmoidFunction::Value(-20), 0.0);
    EXPECT_EQ(SigmoidFunction::Value(0), 0.5);
    EXPECT_EQ(SigmoidFunction::Derivative(21), 0.0);
    EXPECT_EQ(SigmoidFunction::Derivative(-21), 0.0);
    EXPECT_GT(SigmoidFunction::Derivative(20), 0.0);
    EXPECT_EQ(SigmoidFunction::Derivative(0), 0.25);
}

TEST(Activation, BipolarSigmoid) {
    EXPECT_EQ(BiSigmoidFunction::Value(-25), -1.0);
    EXPECT_EQ(BiSigmoidFunction::Value(25), 1.0);
    EXPECT_EQ(BiSigmoidFunction::Value(0), 0.0);
    const double e = std::exp(-20.0);
    EXPECT_EQ(BiSigmoidFunction::Value(-20), (e - 1) / (e + 1));
    EXPECT_GT(BiSigmoidFunction::Value(-20), -1.0);
    EXPECT_NEAR(BiSigmoidFunction::Value(0.7), std::tanh(0.35), 1e-15);
    EXPECT_EQ(BiSigmoidFunction::Derivative(0), 0.5);
    EXPECT_EQ(BiSigmoidFunction::Derivative(-20.0001), 0.0);
}

TEST(Activation, RsdnIsOddUnboundedAndUnsaturated) {
    EXPECT_EQ(RSDNFunction::Value(0), 0.0);
    EXPECT_EQ(RSDNFunction::Value(1), 5 / (5 * std::sqrt(5.0) + 5));
    EXPECT_NEAR(RSDNFunction::Value(100), 4.2807, 5e-5);
    EXPECT_NEAR(RSDNFunction::Value(10000), 44.522, 5e-4);
    for (double x : {0.001, 0.3, 7.0, 21.0, 1e6}) EXPECT_EQ(RSDNFunction::Value(-x), -RSDNFunction::Value(x));
    EXPECT_EQ(RSDNFunction::Derivative(0), 1.0);
    const double s = std::sqrt(5.0);
    EXPECT_EQ(RSDNFunction::Derivative(-1), (s + 2) / (2 * (s + 1) * (s + 1)));
}

TEST(Activation, LinearIsTheIdentity) {
    for (double x : {-1e300, -3.5, 0.0, 42.0}) {
        EXPECT_EQ(LinearFunction::Value(x), x);
        EXPECT_EQ(LinearFunction::Derivative(x), 1.0);
    }
}

TEST(Neurons, FactoryMakesEachTypeAndDispatchesItsFunction) {
    const double x = 0.37;
    const double expected[] = {SigmoidFunction::Value(x), BiSigmoidFunction::Value(x), RSDNFunction::Value(x),
                               LinearFunction::Value(x)};
    for (int32_t type = 0; type <= 3; ++type) {
        NeuronRef neuron = CreateNeuron(type);
        ASSERT_TRUE(neuron);
        EXPECT_EQ(neuron->GetType(), type);
        const IFunction& function = *neuron;
        EXPECT_EQ(function.Value(x), expected[type]);
        EXPECT_EQ(ActivationValue(type, x), expected[type]);
        EXPECT_EQ(neuron->m_State, 0.0);
        EXPECT_EQ(neuron->m_Connector->m_Neuron, neuron.get());
    }
}

TEST(Neurons, IdsRiseByOneAndRefusedTypesUseNone) {
    ReportCapture capture;
    NeuronRef a = CreateNeuron(ETYPE_LINEAR);
    EXPECT_FALSE(CreateNeuron(4));
    EXPECT_FALSE(CreateNeuron(ETYPE_UNKNOWN));
    NeuronRef b = CreateNeuron(ETYPE_SIGMOID);
    EXPECT_EQ(b->m_Id, a->m_Id + 1);
    EXPECT_EQ(NeuronBase::LastNeuronId(), b->m_Id);
    EXPECT_EQ(capture.Checks(), (std::vector<std::string>{"false @ Neurons", "false @ Neurons"}));
}

TEST(Neurons, IdsStayUniqueWhenThreadsCreateAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<uint32_t>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) ids[t].push_back(CreateNeuron(t % 4)->m_Id);
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::set<uint32_t> all;
    for (const auto& list : ids) all.insert(list.begin(), list.end());
    EXPECT_EQ(all.size(), size_t(kThreads * kEach));
}

TEST(Links, DuplicateLinkIsRefusedAndKeepsTheFirstWeight) {
    NeuronRef a = CreateNeuron(ETYPE_SIGMOID);
    NeuronRef b = CreateNeuron(ETYPE_LINEAR);
    EXPECT_TRUE(AddConnection(*a, *b, 0.25));
    EXPECT_FALSE(AddConnection(*a, *b, -0.75));
    ASSERT_EQ(a->m_Outgoing.size(), 1u);
    EXPECT_EQ(a->m_Outgoing.begin()->second, 0.25);
    EXPECT_EQ(a->m_Outgoing.begin()->first, b->m_Connector);
    ASSERT_EQ(b->m_Incoming.size(), 1u);
    EXPECT_EQ(b->m_Incoming.begin()->first, a->m_Connector);
    EXPECT_EQ(b->m_Incoming.begin()->second, 0.25);
    // The reverse direction and back links are other links.
    EXPECT_TRUE(AddConnection(*b, *a, 0.5));
    EXPECT_TRUE(AddBackConnection(*a, *b, 0.125));
    EXPECT_FALSE(AddBackConnection(*a, *b, 0.0625));
    EXPECT_EQ(a->m_OutgoingBack.begin()->second, 0.125);
    EXPECT_EQ(b->m_IncomingBack.size(), 1u);
}

TEST(Links, SelfLinksForwardAndBack) {
    NeuronRef a = CreateNeuron(ETYPE_RSDN);
    EXPECT_TRUE(AddConnection(*a, *a, 0.5));
    EXPECT_TRUE(AddBackConnection(*a, *a, -0.5));
    EXPECT_FALSE(AddConnection(*a, *a, 0.1));
    EXPECT_EQ(a->m_Outgoing.at(a->m_Connector), 0.5);
    EXPECT_EQ(a->m_Incoming.at(a->m_Connector), 0.5);
    EXPECT_EQ(a->m_OutgoingBack.at(a->m_Connector), -0.5);
    EXPECT_EQ(a->m_IncomingBack.at(a->m_Connector), -0.5);
}

TEST(Links, MapsAreOrderedByTheLinkedNeuronsId) {
    std::vector<NeuronRef> n;
    for (int i = 0; i < 6; ++i) n.push_back(CreateNeuron(ETYPE_LINEAR));
    for (int t : {4, 1, 5, 0, 3, 2}) AddConnection(*n[2], *n[t], t);
    for (int s : {5, 3, 0, 1}) AddConnection(*n[s], *n[2], s);
    std::vector<uint32_t> targets, sources;
    for (const auto& link : n[2]->m_Outgoing) targets.push_back(link.first->m_Neuron->m_Id);
    for (const auto& link : n[2]->m_Incoming) sources.push_back(link.first->m_Neuron->m_Id);
    const uint32_t base = n[0]->m_Id;
    EXPECT_EQ(targets, (std::vector<uint32_t>{base, base + 1, base + 2, base + 3, base + 4, base + 5}));
    EXPECT_EQ(sources, (std::vector<uint32_t>{base, base + 1, base + 2, base + 3, base + 5}));
}

TEST(Links, LinkedNeuronsAreFreedCompletely) {
    std::vector<std::weak_ptr<NeuronBase>> neurons;
    std::vector<std::weak_ptr<Connector>> connectors;
    {
        std::vector<NeuronRef> list;
        for (int i = 0; i < 20; ++i) list.push_back(CreateNeuron(i % 4));
        for (int s = 0; s < 20; ++s) {
            for (int t = 0; t < 20; t += 3) {
                AddConnection(*list[s], *list[t], 0.5);
                AddBackConnection(*list[t], *list[s], -0.5);
            }
        }
        for (const NeuronRef& neuron : list) {
            neurons.push_back(neuron);
            connectors.push_back(neuron->m_Connector);
        }
    }
    for (const auto& neuron : neurons) EXPECT_TRUE(neuron.expired());
    for (const auto& connector : connectors) EXPECT_TRUE(connector.expired());
}

}  // namespace
