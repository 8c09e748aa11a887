#include <gtest/gtest.h>

#include <string>

#include "src/FileOps.h"
#include "src/Random.h"
#include "src/Reservoire.h"
#include "tests/support/Lines.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/ReservoireTestAccess.h"

namespace {

using namespace rcnet;
using rcnet::test::Lines;
using rcnet::test::ReportCapture;
using Checks = std::vector<std::string>;

std::string Write(const Reservoire& r) {
    TextWriter out;
    r.WriteReservoir(out);
    return out.Text();
}

bool ReadInto(Reservoire& r, const std::string& text) {
    TextReader in(text);
    if (!r.ReadReservoir(in)) return false;
    r.ReserveReadIds();
    return true;
}

// (source id, weight, target id) per link, in map order.
std::vector<std::tuple<uint32_t, double, uint32_t>> LinksById(const Reservoire& r, bool back) {
    std::vector<std::tuple<uint32_t, double, uint32_t>> links;
    for (const NeuronRef& n : r.Neurons())
        for (const auto& [c, w] : back ? n->m_OutgoingBack : n->m_Outgoing)
            links.emplace_back(n->m_Id, w, c->m_Neuron->m_Id);
    return links;
}

const std::string kExample =
    Lines({"2", "0", "7", "1", "7 0.25 8", "0", "3", "8", "0", "1", "8 -0.5 7", "1 2", "1 -1 "});

TEST(ReservoireFile, WritesTheThirteenLineExample) {
    Reservoire r;
    r.AddNeurons(1, ETYPE_SIGMOID);
    r.AddNeurons(1, ETYPE_LINEAR);
    auto& neurons = ReservoireTestAccess::Neurons(r);
    neurons[0]->m_Id = 7;
    neurons[1]->m_Id = 8;
    AddConnection(*neurons[0], *neurons[1], 0.25);
    AddBackConnection(*neurons[1], *neurons[0], -0.5);
    r.InitInputMatrix(1);
    ReservoireTestAccess::InputMatrix(r) = Matrix{{1, -1}};
    EXPECT_EQ(Write(r), kExample);
}

TEST(ReservoireFile, ReadsTheExampleBack) {
    Reservoire r;
    ASSERT_TRUE(ReadInto(r, kExample));
    ASSERT_EQ(r.NeuronCount(), 2u);
    EXPECT_EQ(r.Neurons()[0]->m_Id, 7u);
    EXPECT_EQ(r.Neurons()[0]->GetType(), ETYPE_SIGMOID);
    EXPECT_EQ(r.Neurons()[1]->GetType(), ETYPE_LINEAR);
    EXPECT_EQ(LinksById(r, false), (std::vector<std::tuple<uint32_t, double, uint32_t>>{{7, 0.25, 8}}));
    EXPECT_EQ(LinksById(r, true), (std::vector<std::tuple<uint32_t, double, uint32_t>>{{8, -0.5, 7}}));
    EXPECT_EQ(r.InputMatrix(), (Matrix{{1, -1}}));
    EXPECT_EQ(r.Inputs(), Vector(1, 0.0));
    EXPECT_EQ(r.States(), Vector(2, 0.0));
    EXPECT_EQ(Write(r), kExample) << "and writes it again byte for byte";
}

TEST(ReservoireFile, EmptyReservoir) {
    Reservoire r;
    EXPECT_EQ(Write(r), Lines({"0", "0 0"}));
    Reservoire back;
    back.AddNeurons(3, ETYPE_RSDN);
    ASSERT_TRUE(ReadInto(back, Write(r)));
    EXPECT_EQ(back.NeuronCount(), 0u);
    EXPECT_TRUE(back.InputMatrix().empty());
}

TEST(ReservoireFile, RoundTripOfABuiltReservoir) {
    rcnet::srand(17);
    Reservoire r;
    for (int type = 0; type < 4; ++type) r.AddNeurons(6, type);
    r.AddRandomConnections(60);
    r.AddRandomBackConnections(40);
    r.InitInputMatrix(3);
    r.SetInputs({1, 2, 3});
    r.Step();  // the values are not part of the block
    const std::string text = Write(r);
    Reservoire back;
    ASSERT_TRUE(ReadInto(back, text));
    EXPECT_EQ(Write(back), text);
    ASSERT_EQ(back.NeuronCount(), 24u);
    for (size_t j = 0; j < 24; ++j) {
        EXPECT_EQ(back.Neurons()[j]->GetType(), r.Neurons()[j]->GetType());
        EXPECT_EQ(back.Neurons()[j]->m_State, 0.0);
    }
    EXPECT_EQ(back.States(), Vector(24, 0.0));
}

TEST(ReservoireFile, NeuronsAreOrderedByIdAndLinksMayStandAnywhere) {
    ReportCapture capture;
    // Records in descending id order; the forward link 5 -> 9 stands in neuron 3's record.
    const std::string text = "3  1 9 0 0   3 5 0 0   0 3 1 5 0.5 9 0   1 3  1 1 0.5 ";
    Reservoire r;
    ASSERT_TRUE(ReadInto(r, text));
    ASSERT_EQ(r.NeuronCount(), 3u);
    EXPECT_EQ(r.Neurons()[0]->m_Id, 3u);
    EXPECT_EQ(r.Neurons()[0]->GetType(), ETYPE_SIGMOID);
    EXPECT_EQ(r.Neurons()[2]->m_Id, 9u);
    EXPECT_EQ(LinksById(r, false), (std::vector<std::tuple<uint32_t, double, uint32_t>>{{5, 0.5, 9}}));
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(ReservoireFile, RepeatedAndUnknownIds) {
    ReportCapture capture;
    // Two records of id 5 (types 1 and 2): the first stays. Links 5 -> 99 (no such neuron, skipped
    // silently), 99 -> 5 (reported, skipped), and a repeated line 5 -> 6 (no change).
    const std::string text =
        "3  1 5 2 5 0.5 99 5 0.25 6 0   2 5 1 99 1 5 0   3 6 1 5 0.75 6 0   1 2 0.1 0.2 ";
    Reservoire r;
    ASSERT_TRUE(ReadInto(r, text));
    ASSERT_EQ(r.NeuronCount(), 2u);
    EXPECT_EQ(r.Neurons()[0]->GetType(), ETYPE_BISIGMOID);
    EXPECT_EQ(LinksById(r, false), (std::vector<std::tuple<uint32_t, double, uint32_t>>{{5, 0.25, 6}}));
    EXPECT_EQ(capture.Checks(), Checks{"found != neurons.end() @ Reservoire"});
}

TEST(ReservoireFile, NeuronTypesOutsideTheFourRefuseTheBlock) {
    ReportCapture capture;
    Reservoire r;
    EXPECT_FALSE(ReadInto(r, "1 -1 5 0 0 0 0"));
    EXPECT_EQ(capture.Checks(), (Checks{"type != ETYPE_UNKNOWN @ Reservoire", "false @ Neurons"}));
    capture.Clear();
    EXPECT_FALSE(ReadInto(r, "1 4 5 0 0 0 0"));
    EXPECT_EQ(capture.Checks(), Checks{"false @ Neurons"});
}

TEST(ReservoireFile, TruncatedOrGarbledBlocksAreRefused) {
    for (const char* text : {"", "2 0 7 1 7 0.25", "1 0 7 0 0 1 1", "1 0 7 x 0 0 0", "1 0 7 1 7 zz 7 0 0 0",
                             "4294967295 0 1 0 0"}) {
        Reservoire r;
        EXPECT_FALSE(ReadInto(r, text)) << text;
    }
}

TEST(ReservoireFile, LaterNeuronsNeverRepeatAnIdRead) {
    // Another test in this process may have used up the ids above it already.
    const bool ordinary = NeuronBase::LastNeuronId() < 4000000000u;
    Reservoire r;
    ASSERT_TRUE(ReadInto(r, "1 3 4000000000 0 0 0 0"));
    ASSERT_TRUE(r.AddNeurons(1, ETYPE_LINEAR));
    EXPECT_NE(r.Neurons()[1]->m_Id, 4000000000u);
    if (ordinary) {
        EXPECT_GT(r.Neurons()[1]->m_Id, 4000000000u) << "numbered after it";
    }
}

}  // namespace
