// Network-file reader. Properties: a rejected text leaves the network exactly as it was and is refused
// at a place inside it; the same bytes through a small file buffer get the same verdict, place and
// network; an accepted one, written out, reads back and writes out to the same bytes.
#include <cstdint>

#include <cstdlib>
#include <string>
#include "fuzz/ReaderStops.h"
#include "fuzz/Require.h"

#include "src/Net.h"
#include "src/Random.h"
#include "tests/support/ReportCapture.h"

namespace {

std::string Text(const rcnet::Net& net) {
    rcnet::TextWriter out;
    net.Write(out);
    return out.Text();
}

std::string Values(const rcnet::Net& net) {
    std::string values;
    for (const rcnet::NeuronRef& n : net.Reservoir().Neurons())
        values += rcnet::FormatDouble(n->m_State) + rcnet::FormatDouble(n->m_PrevState) + " ";
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcnet::test::ReportCapture quiet;
    rcnet::srand(7);
    rcnet::Net net(2, 1, true);
    net.Reservoir().AddNeurons(3, 1);
    net.Reservoir().AddRandomConnections(4);
    net.Reservoir().InitInputMatrix(2);
    net.Reservoir().SetInputs({0.5, -0.5});
    net.Reservoir().Step();
    const std::string before = Text(net), valuesBefore = Values(net);

    rcnet::TextReader in(std::string(reinterpret_cast<const char*>(data), size));
    const bool accepted = net.Read(in);
    rcnet::Net buffered(0, 0, false);
    ReadThroughSmallBuffer(data, size, [&](rcnet::TextReader& file) {
        Require(buffered.Read(file) == accepted, "a small buffer changed the verdict");
        Require(SameStop(file.Stop(), in.Stop()), "a small buffer changed the place or reason");
        Require(!accepted || Text(buffered) == Text(net), "a small buffer changed the network");
    });
    if (!accepted) {
        Require(Text(net) == before && Values(net) == valuesBefore, "a rejected file changed the network");
        RequirePlaceInside(in.Stop(), data, size);
        return 0;
    }
    const std::string first = Text(net);
    rcnet::Net again(0, 0, false);
    rcnet::TextReader reread(first);
    Require(again.Read(reread), "a written network does not read back");
    Require(Text(again) == first, "a network read back writes other bytes");
    return 0;
}
