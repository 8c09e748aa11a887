// Neuron ids: a refused load moves nothing, and no reservoir ever holds one id twice, not even when the
// process's ids run out.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "include/rcnet_inspect.h"
#include "src/NetManager.h"
#include "tests/support/Internals.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::ReportCapture;
using rcnet::test::TempDir;
using rcnet::test::WriteBytes;
using Checks = std::vector<std::string>;

class NeuronIds : public ::testing::Test {
protected:
    void SetUp() override { m_Saved = NeuronBase::LastNeuronId(); }
    void TearDown() override {
        for (int id : {71, 72, 73}) UnregisterUsage(id);
        rcnet::test::SetLastNeuronId(m_Saved);
    }

    static std::set<uint32_t> Ids(int id) {
        std::set<uint32_t> ids;
        for (const NeuronRef& n : NetManager::Instance().GetNet(id)->Reservoir().Neurons())
            ids.insert(n->m_Id);
        return ids;
    }
    static std::vector<uint32_t> ListedIds(int id) {
        std::vector<uint32_t> ids;
        for (const NeuronRef& n : NetManager::Instance().GetNet(id)->Reservoir().Neurons())
            ids.push_back(n->m_Id);
        return ids;
    }
    static uint32_t Count(int id) { return NetManager::Instance().GetNet(id)->Reservoir().NeuronCount(); }

    TempDir m_Dir;

private:
    uint32_t m_Saved = 0;
};

// One linear neuron of the given id with a link to itself, one input; `matrix` is the input matrix block.
std::string OneNeuronFile(const std::string& id, const std::string& matrix) {
    return "1 1 0\n0 0\n1\n3\n" + id + "\n1\n" + id + " 0.5 " + id + "\n0\n" + matrix;
}

TEST_F(NeuronIds, ARefusedLoadLeavesTheCounterAsItWas) {
    const std::string path = m_Dir.File("refused.net");
    // The input matrix is cut short: the file is refused after its neuron records were read.
    WriteBytes(path, OneNeuronFile("4294967295", "1 1\n"));
    ASSERT_EQ(RegisterUsage(71, 1, 1, 0), 1);
    const uint32_t before = NeuronBase::LastNeuronId();
    EXPECT_EQ(LoadNetFromFile(71, path.c_str()), 0);
    EXPECT_EQ(NeuronBase::LastNeuronId(), before);

    // Neurons added elsewhere then are numbered as always, and a save of theirs loads whole.
    ASSERT_EQ(RegisterUsage(72, 1, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(72, 8, 3), 1);
    ASSERT_EQ(Ids(72).size(), 8u);
    EXPECT_EQ(*Ids(72).begin(), before + 1);
    EXPECT_EQ(*Ids(72).rbegin(), before + 8);
    ASSERT_EQ(AddRandomConnectionsToNet(72, 20), 1);
    ASSERT_EQ(InitNetInputMatrix(72, 1), 1);
    const std::string saved = m_Dir.File("eight.net");
    ASSERT_EQ(SaveNetToFile(72, saved.c_str()), 1);
    ASSERT_EQ(RegisterUsage(73, 1, 1, 0), 1);
    ASSERT_EQ(LoadNetFromFile(73, saved.c_str()), 1);
    EXPECT_EQ(Ids(73), Ids(72));
}

TEST_F(NeuronIds, CheckingAFileUsesUpNoId) {
    const uint32_t before = NeuronBase::LastNeuronId();
    const std::string text = OneNeuronFile("4294967295", "1 1\n0.5 \n");
    EXPECT_TRUE(inspect::CheckNetworkText(text).accepted);
    WriteBytes(m_Dir.File("last.net"), text);
    EXPECT_TRUE(inspect::CheckNetworkFile(m_Dir.File("last.net")).accepted);
    EXPECT_EQ(NeuronBase::LastNeuronId(), before);
}

TEST_F(NeuronIds, AnAcceptedLoadMovesTheCounterPastItsIds) {
    const std::string path = m_Dir.File("high.net");
    WriteBytes(path, OneNeuronFile("4000000000", "1 1\n0.5 \n"));
    ASSERT_EQ(RegisterUsage(71, 1, 1, 0), 1);
    ASSERT_EQ(LoadNetFromFile(71, path.c_str()), 1);
    EXPECT_GE(NeuronBase::LastNeuronId(), 4000000000u);
    ASSERT_EQ(AddNeuronsToNet(71, 2, 0), 1);
    EXPECT_EQ(Ids(71).size(), 3u);
    EXPECT_GT(*Ids(71).rbegin(), 4000000000u);
}

TEST_F(NeuronIds, OnceTheProcessIdsRunOutANetworkTakesIdsAboveItsOwn) {
    rcnet::test::SetLastNeuronId(10);
    ASSERT_EQ(RegisterUsage(72, 1, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(72, 2, 1), 1);
    rcnet::test::SetLastNeuronId(UINT32_MAX - 2);
    ASSERT_EQ(RegisterUsage(71, 1, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(71, 2, 1), 1);
    EXPECT_EQ(Ids(71), (std::set<uint32_t>{UINT32_MAX - 1, UINT32_MAX}));
    ReportCapture capture;
    // The process's ids are used up: 72 goes on above its own, in list order.
    ASSERT_EQ(AddNeuronsToNet(72, 3, 3), 1);
    EXPECT_EQ(ListedIds(72), (std::vector<uint32_t>{11, 12, 13, 14, 15}));
    EXPECT_TRUE(capture.Lines().empty());
    // 71 holds the last id: nothing can follow it in order.
    EXPECT_EQ(AddNeuronsToNet(71, 1, 3), 0);
    EXPECT_EQ(Count(71), 2u);
    EXPECT_EQ(capture.Checks(), Checks{"fresh neuron ids left @ Reservoire"});
    EXPECT_FALSE(CreateNeuron(ETYPE_LINEAR)) << "a neuron of no reservoir gets no id then";
}

// As a host found it: a file holding the last id, then neurons added to another network. Its neurons
// wrapped to 1, 2, 3, 4, 0, 1, 2, 3, and its saved file lost three of them on loading.
TEST_F(NeuronIds, AFileHoldingTheLastIdLeavesOtherNetworksWhole) {
    const std::string path = m_Dir.File("last.net");
    WriteBytes(path, OneNeuronFile("4294967295", "1 1\n0.5 \n"));
    ASSERT_EQ(RegisterUsage(71, 1, 1, 0), 1);
    ASSERT_EQ(LoadNetFromFile(71, path.c_str()), 1);
    ASSERT_EQ(RegisterUsage(72, 1, 1, 0), 1);
    ASSERT_EQ(AddNeuronsToNet(72, 4, 3), 1);
    ASSERT_EQ(AddNeuronsToNet(72, 4, 3), 1);
    EXPECT_EQ(Ids(72).size(), 8u) << "eight neurons, eight ids";
    ASSERT_EQ(AddRandomConnectionsToNet(72, 30), 1);
    ASSERT_EQ(InitNetInputMatrix(72, 1), 1);
    const std::string saved = m_Dir.File("eight.net");
    ASSERT_EQ(SaveNetToFile(72, saved.c_str()), 1);
    ASSERT_EQ(RegisterUsage(73, 1, 1, 0), 1);
    ASSERT_EQ(LoadNetFromFile(73, saved.c_str()), 1);
    EXPECT_EQ(Count(73), 8u);
    size_t links = 0;
    for (const NeuronRef& n : NetManager::Instance().GetNet(73)->Reservoir().Neurons())
        links += n->m_Outgoing.size();
    EXPECT_EQ(links, 30u);
    EXPECT_EQ(ListedIds(73), ListedIds(72));
    // The loaded network itself holds the last id: no neuron can be added after it in order. Had it
    // taken ids below (it once did), its saved file would load them before its own neuron, and the
    // readout's weights would belong to other neurons.
    EXPECT_EQ(AddNeuronsToNet(71, 3, 0), 0);
    EXPECT_EQ(Ids(71), (std::set<uint32_t>{UINT32_MAX}));
}

}  // namespace
