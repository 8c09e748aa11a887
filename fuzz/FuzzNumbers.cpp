// The number and matrix readers. Properties: every double read, written in the file form, reads back
// and writes the same text again; counts are read with two's complement for "-"; a matrix that reads
// writes and reads back to the same shape and text.
#include <cstdint>

#include <cstdlib>
#include <string>
#include "fuzz/Require.h"

#include "src/FileOps.h"
#include "tests/support/ReportCapture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rcnet::test::ReportCapture quiet;
    const std::string input(reinterpret_cast<const char*>(data), size);
    {
        rcnet::TextReader in(input);
        double value;
        for (int i = 0; i < 10000 && in.Double(value); ++i) {
            const std::string text = rcnet::FormatDouble(value);
            rcnet::TextReader back(text);
            double again;
            Require(back.Double(again), "a written double does not read back");
            Require(rcnet::FormatDouble(again) == text, "a double's text changed on its way back");
        }
    }
    {
        rcnet::TextReader in(input);
        uint32_t count;
        for (int i = 0; i < 10000 && in.Count(count); ++i) {
            rcnet::TextReader back(std::to_string(count));
            uint32_t again;
            Require(back.Count(again) && again == count, "a count does not read back");
        }
    }
    {
        rcnet::TextReader in(input);
        rcnet::Matrix matrix;
        if (rcnet::ReadMatrix(in, matrix)) {
            rcnet::TextWriter out;
            rcnet::WriteMatrix(out, matrix);
            rcnet::TextReader back(out.Text());
            rcnet::Matrix again;
            Require(rcnet::ReadMatrix(back, again), "a written matrix does not read back");
            Require(again.size() == matrix.size(), "a matrix changed shape");
            rcnet::TextWriter out2;
            rcnet::WriteMatrix(out2, again);
            Require(out2.Text() == out.Text(), "a matrix's text changed on its way back");
        }
    }
    return 0;
}
