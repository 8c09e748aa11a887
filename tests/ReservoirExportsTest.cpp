// The reservoir-building exports, through the public header.
#include <gtest/gtest.h>

#include <climits>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "src/Random.h"
#include "tests/support/NetFixtures.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SignalNet.h"

namespace {

using rcnet::test::ReportCapture;
using Checks = std::vector<std::string>;

const rcnet::Reservoire& ReservoirOf(int id) {
    return rcnet::NetManager::Instance().GetNet(id)->Reservoir();
}

class ReservoirExports : public rcnet::test::OneNetTest<5001, 2, 1, 1> {};

TEST_F(ReservoirExports, UnregisteredIdReturnsZeroWithTwoReports) {
    ReportCapture capture;
    EXPECT_EQ(AddNeuronsToNet(-77, 3, 1), 0);
    EXPECT_EQ(AddRandomConnectionsToNet(-77, 1), 0);
    EXPECT_EQ(AddRandomBackConnectionsToNet(-77, 1), 0);
    EXPECT_EQ(InitNetInputMatrix(-77, 1), 0);
    const Checks pair{"it != m_Nets.end() @ NetManager", "net @ Exports"};
    Checks expected;
    for (int i = 0; i < 4; ++i) expected.insert(expected.end(), pair.begin(), pair.end());
    EXPECT_EQ(capture.Checks(), expected);
}

TEST_F(ReservoirExports, TypeCodesMapUnsigned) {
    ReportCapture capture;
    EXPECT_EQ(AddNeuronsToNet(kId, 2, 2), 1);
    EXPECT_EQ(AddNeuronsToNet(kId, 3, 4), 1);
    EXPECT_EQ(AddNeuronsToNet(kId, 3, -1), 1);
    EXPECT_EQ(AddNeuronsToNet(kId, 1, INT_MIN), 1);
    EXPECT_EQ(AddNeuronsToNet(kId, 1, 0), 1);
    EXPECT_EQ(capture.Checks(), (Checks{"false @ Neurons", "false @ Neurons", "false @ Neurons"}));
    const auto& neurons = ReservoirOf(kId).Neurons();
    ASSERT_EQ(neurons.size(), 3u);
    EXPECT_EQ(neurons[0]->GetType(), rcnet::ETYPE_RSDN);
    EXPECT_EQ(neurons[2]->GetType(), rcnet::ETYPE_SIGMOID);
}

// A negative count reaches the reservoir as a huge one: link counts are refused there (result 1), a
// refused neuron type adds nothing whatever the count (result 1); billions of neurons or input rows are
// refused by the export (result 0). Nothing is drawn in any case.
TEST_F(ReservoirExports, NegativeCountsDrawNothing) {
    ASSERT_EQ(AddNeuronsToNet(kId, 4, 1), 1);
    ReportCapture capture;
    Randomize(8);
    EXPECT_EQ(AddNeuronsToNet(kId, -1, 1), 0);
    EXPECT_EQ(AddNeuronsToNet(kId, -1, 7), 1);
    EXPECT_EQ(AddRandomConnectionsToNet(kId, -5), 1);
    EXPECT_EQ(AddRandomBackConnectionsToNet(kId, INT_MIN), 1);
    EXPECT_EQ(InitNetInputMatrix(kId, -2), 0);
    EXPECT_EQ(capture.Checks(),
              (Checks{"count >= 0 @ Exports", "false @ Neurons", "count <= size*size @ Reservoire",
                      "count <= size*size @ Reservoire", "inputCount >= 0 @ Exports"}));
    Randomize(8);
    const int first = rcnet::rand();
    Randomize(8);
    EXPECT_EQ(AddRandomConnectionsToNet(kId, -5), 1);
    EXPECT_EQ(AddRandomBackConnectionsToNet(kId, -1), 1);
    EXPECT_EQ(rcnet::rand(), first);
    EXPECT_EQ(ReservoirOf(kId).NeuronCount(), 4u);
    EXPECT_TRUE(ReservoirOf(kId).InputMatrix().empty());
    for (const auto& neuron : ReservoirOf(kId).Neurons()) {
        EXPECT_TRUE(neuron->m_Outgoing.empty());
        EXPECT_TRUE(neuron->m_OutgoingBack.empty());
    }
}

TEST_F(ReservoirExports, ReservoirRefusalsStillReturnOne) {
    ReportCapture capture;
    EXPECT_EQ(AddRandomConnectionsToNet(kId, 1), 1);
    ASSERT_EQ(AddNeuronsToNet(kId, 2, 0), 1);
    EXPECT_EQ(AddRandomConnectionsToNet(kId, 5), 1);
    EXPECT_EQ(AddRandomConnectionsToNet(kId, 4), 1);
    EXPECT_EQ(AddRandomConnectionsToNet(kId, 1), 1);
    EXPECT_EQ(capture.Checks(), (Checks{"count <= size*size @ Reservoire", "count <= size*size @ Reservoire",
                                        "count <= free pairs @ Reservoire"}));
}

TEST_F(ReservoirExports, SameSeedAndCallsRebuildTheSameReservoir) {
    auto build = [](int id) { rcnet::test::AddMixedReservoir(id, 4242, 20, 5, 2, 60, 40, 2); };
    build(kId);
    ASSERT_EQ(RegisterUsage(kId + 1, 2, 1, 1), 1);
    build(kId + 1);
    const auto& a = ReservoirOf(kId);
    const auto& b = ReservoirOf(kId + 1);
    EXPECT_EQ(a.InputMatrix(), b.InputMatrix());
    ASSERT_EQ(a.NeuronCount(), b.NeuronCount());
    for (uint32_t j = 0; j < a.NeuronCount(); ++j) {
        const auto& na = *a.Neurons()[j];
        const auto& nb = *b.Neurons()[j];
        EXPECT_EQ(na.GetType(), nb.GetType());
        ASSERT_EQ(na.m_Outgoing.size(), nb.m_Outgoing.size());
        ASSERT_EQ(na.m_OutgoingBack.size(), nb.m_OutgoingBack.size());
        for (auto ia = na.m_Outgoing.begin(), ib = nb.m_Outgoing.begin(); ia != na.m_Outgoing.end();
             ++ia, ++ib) {
            EXPECT_EQ(ia->first->m_Neuron->m_Id - na.m_Id, ib->first->m_Neuron->m_Id - nb.m_Id);
            EXPECT_EQ(ia->second, ib->second);
        }
    }
    UnregisterUsage(kId + 1);
}

}  // namespace
