#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include <cstring>
#include <vector>

#include "src/FileOps.h"
#include "tests/support/Lines.h"
#include "tests/support/ReportCapture.h"
#include "tests/support/SameBits.h"
#include "tests/support/TempDir.h"

namespace {

using namespace rcnet;
using rcnet::test::Bits;
using rcnet::test::Lines;
using rcnet::test::ReportCapture;

TEST(FileOps, DoublesAsPercentGWithThreeExponentDigits) {
    const std::pair<double, const char*> cases[] = {
        {0.5, "0.5"},
        {1.0 / 3, "0.333333"},
        {1.5e-7, "1.5e-007"},
        {2.5e6, "2.5e+006"},
        {1e-7, "1e-007"},
        {-2, "-2"},
        {0, "0"},
        {-0.0, "-0"},
        {0.0001, "0.0001"},
        {0.00001, "1e-005"},
        {123456, "123456"},
        {1234567, "1.23457e+006"},
        {1e100, "1e+100"},
        {-1.5e-300, "-1.5e-300"},
        {0.1234567, "0.123457"},
        {999999.5, "1e+006"},
        {3.25, "3.25"},
        {1e-320, "9.99989e-321"},
        {1.7976931348623157e308, "1.79769e+308"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(FormatDouble(value), text) << value;
    EXPECT_EQ(FormatDouble(std::numeric_limits<double>::infinity()), "inf");
    EXPECT_EQ(FormatDouble(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(FormatDouble(std::numeric_limits<double>::quiet_NaN()), "nan");
    EXPECT_EQ(FormatDouble(-std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(FileOps, WritesTheTwoByThreeExample) {
    TextWriter out;
    WriteMatrix(out, Matrix{{1, 0.5, -2}, {0, 3.25, 1e-7}});
    EXPECT_EQ(out.Text(), Lines({"2 3", "1 0.5 -2 ", "0 3.25 1e-007 "}));
}

TEST(FileOps, EmptyMatrixAndEmptyRows) {
    TextWriter empty;
    WriteMatrix(empty, Matrix{});
    EXPECT_EQ(empty.Text(), Lines({"0 0"}));
    TextWriter rows;
    WriteMatrix(rows, Matrix(3));
    EXPECT_EQ(rows.Text(), Lines({"3 0", "", "", ""}));
    TextReader in(rows.Text());
    Matrix read{{9}};
    ASSERT_TRUE(ReadMatrix(in, read));
    EXPECT_EQ(read, Matrix(3));
}

TEST(FileOps, RaggedRowIsReportedAndWrittenAsARectangle) {
    ReportCapture capture;
    TextWriter out;
    WriteMatrix(out, Matrix{{1, 2}, {3}, {4, 5, 6}});
    EXPECT_EQ(out.Text(), Lines({"3 2", "1 2 ", "3 0 ", "4 5 "}));
    EXPECT_EQ(capture.Checks(), (std::vector<std::string>{"vector[i].size() == jSize @ FileOps",
                                                          "vector[i].size() == jSize @ FileOps"}));
}

TEST(FileOps, RoundTripKeepsShapeAndSixDigits) {
    const Matrix matrix{{0.1234567, -98765.4321, 1e-300},
                        {std::numeric_limits<double>::infinity(), -0.0, 42}};
    TextWriter out;
    WriteMatrix(out, matrix);
    TextReader in(out.Text());
    Matrix read;
    ASSERT_TRUE(ReadMatrix(in, read));
    EXPECT_EQ(read,
              (Matrix{{0.123457, -98765.4, 1e-300}, {std::numeric_limits<double>::infinity(), 0.0, 42}}));
    EXPECT_TRUE(std::signbit(read[1][1]));
}

TEST(FileOps, LineStructureAndBlanksCarryNoMeaning) {
    for (const char* text : {"2 3\n1 2 3 \n4 5 6 \n", "2\t3\t1\t2\t3\t4\t5\t6", "2\r\n3 1\r\n2\n\n3 4 5\r\n6",
                             "  2 3 1 2 3 4 5 6   trailing words are not read"}) {
        TextReader in(text);
        Matrix read;
        ASSERT_TRUE(ReadMatrix(in, read)) << text;
        EXPECT_EQ(read, (Matrix{{1, 2, 3}, {4, 5, 6}})) << text;
    }
}

TEST(FileOps, IncompleteOrGarbledMatrixIsRefusedWhole) {
    for (const char* text : {"2 3 1 2 3 4", "x 3", "2 3 1 2 x 4 5 6", "", "2", "2 3 1 2 3 4 5 6,"}) {
        TextReader in(text);
        Matrix read{{7}};
        const bool ok = ReadMatrix(in, read);
        if (std::string(text) == "2 3 1 2 3 4 5 6,") {
            EXPECT_TRUE(ok) << "a value ends where its number ends";
            continue;
        }
        EXPECT_FALSE(ok) << text;
        EXPECT_EQ(read, (Matrix{{7}})) << text;
        uint32_t count;
        EXPECT_FALSE(in.Count(count)) << "a failure is sticky";
    }
}

TEST(FileOps, HeadersAnnouncingMoreThanTheTextHoldsAllocateNothing) {
    for (const char* text :
         {"4294967295 4294967295 1 2", "-1 -1", "100000 100000 1", "4294967295 0", "0-1 1 0"}) {
        TextReader in(text);
        Matrix read;
        if (std::string(text) == "0-1 1 0") {
            EXPECT_TRUE(ReadMatrix(in, read)) << "no rows: the row length allocates nothing";
            EXPECT_TRUE(read.empty());
            continue;
        }
        EXPECT_FALSE(ReadMatrix(in, read)) << text;
    }
    TextReader few("5 0");
    Matrix read;
    EXPECT_TRUE(ReadMatrix(few, read)) << "a few empty rows need no text";
    EXPECT_EQ(read.size(), 5u);
}

TEST(FileOps, EveryMatrixWrittenReadsBackHoweverManyEmptyRows) {
    for (const uint32_t rows : {kMaxEmptyRecords, kMaxEmptyRecords + 1, 3 * kMaxEmptyRecords}) {
        TextWriter out;
        WriteMatrix(out, Matrix(rows));
        TextReader in(out.Text());
        Matrix read{{1.0}};
        ASSERT_TRUE(ReadMatrix(in, read)) << rows;
        EXPECT_EQ(read.size(), rows);
        EXPECT_TRUE(read.back().empty());
    }
}

TEST(FileOps, ManyEmptyRowsNeedTheTextOfTheirLineBreaks) {
    const uint32_t rows = kMaxEmptyRecords + 1;
    const std::string header = std::to_string(rows) + " 0";
    // One byte short of a line break per row.
    TextReader shortText(header + std::string(rows - 1, '\n'));
    Matrix read;
    EXPECT_FALSE(ReadMatrix(shortText, read));
    EXPECT_TRUE(read.empty());
    TextReader enough(header + std::string(rows, '\n'));
    EXPECT_TRUE(ReadMatrix(enough, read));
    EXPECT_EQ(read.size(), rows);
}

TEST(FileOps, CountsFlagsAndSignedIntegers) {
    TextReader in("-1 +7 0 4294967295 -4294967295 1 0 -2 12abc");
    uint32_t count;
    int32_t value;
    bool flag;
    ASSERT_TRUE(in.Count(count));
    EXPECT_EQ(count, 4294967295u);
    ASSERT_TRUE(in.Count(count));
    EXPECT_EQ(count, 7u);
    ASSERT_TRUE(in.Count(count));
    EXPECT_EQ(count, 0u);
    ASSERT_TRUE(in.Count(count));
    EXPECT_EQ(count, 4294967295u);
    ASSERT_TRUE(in.Count(count));
    EXPECT_EQ(count, 1u);
    ASSERT_TRUE(in.Flag(flag));
    EXPECT_TRUE(flag);
    ASSERT_TRUE(in.Flag(flag));
    EXPECT_FALSE(flag);
    ASSERT_TRUE(in.Signed(value));
    EXPECT_EQ(value, -2);
    ASSERT_TRUE(in.Count(count));
    EXPECT_EQ(count, 12u);
    EXPECT_FALSE(in.Count(count));

    for (const char* bad : {"4294967296", "2", "-", "x", "1.5"}) {
        TextReader one(bad);
        bool f;
        EXPECT_FALSE(std::string(bad) == "1.5" ? (one.Flag(f), one.Flag(f)) : one.Flag(f)) << bad;
    }
}

TEST(FileOps, DoublesInAnyDecimalForm) {
    TextReader in("0.25 -3 1.5e-3 2E+10 .5 +4 inf -inf nan INFINITY 1e 7");
    const double expected[] = {0.25, -3, 1.5e-3, 2e10, 0.5, 4, HUGE_VAL, -HUGE_VAL};
    double value;
    for (double e : expected) {
        ASSERT_TRUE(in.Double(value));
        EXPECT_EQ(value, e);
    }
    ASSERT_TRUE(in.Double(value));
    EXPECT_TRUE(std::isnan(value));
    ASSERT_TRUE(in.Double(value));
    EXPECT_EQ(value, HUGE_VAL);
    ASSERT_TRUE(in.Double(value));
    EXPECT_EQ(value, 1.0) << "an exponent mark without digits ends the number";
    EXPECT_FALSE(in.Double(value));

    for (const char* bad : {"+-1", "-", ".", "e5", "1e999", "--2", "x1"}) {
        TextReader one(bad);
        EXPECT_FALSE(one.Double(value)) << bad;
    }
}

TEST(FileOps, TheUsersLocaleChangesNothing) {
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (!german) german = std::setlocale(LC_ALL, "German_Germany.1252");
    if (!german) GTEST_SKIP() << "no locale with a decimal comma here";
    TextWriter out;
    out.Double(1.5);
    TextReader in("2.75");
    double value = 0;
    const bool read = in.Double(value);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(out.Text(), "1.5");
    EXPECT_TRUE(read);
    EXPECT_EQ(value, 2.75);
}

TEST(FileOps, ReadsFilesAcrossBufferBoundaries) {
    // Enough values that the 64 KiB buffer refills many times, with numbers cut at every position.
    std::string text = "30000 1 ";
    for (int i = 0; i < 30000; ++i) text += FormatDouble(i * 1.000001 + 0.5) + (i % 7 ? " " : "\r\n");
    const test::TempDir dir;
    std::FILE* file = dir.Open("values");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    std::rewind(file);
    TextReader in(file, text.size());
    Matrix read;
    ASSERT_TRUE(ReadMatrix(in, read));
    std::fclose(file);
    ASSERT_EQ(read.size(), 30000u);
    for (int i = 0; i < 30000; i += 997)
        EXPECT_EQ(FormatDouble(read[i][0]), FormatDouble(i * 1.000001 + 0.5));
}

// At kExactDigits every double comes back with its bits, NaN payloads and signs, subnormals, both
// zeros and the extremes included; at 7 to 17 digits the value to that many digits.
TEST(FileOps, ExactDigitsRoundTripEveryDouble) {
    std::vector<uint64_t> patterns = {0,
                                      uint64_t{1} << 63,
                                      1,                      // the smallest subnormal
                                      0x000FFFFFFFFFFFFFull,  // the largest subnormal
                                      0x0010000000000000ull,  // the smallest normal
                                      0x7FEFFFFFFFFFFFFFull,  // the largest finite
                                      0xFFEFFFFFFFFFFFFFull,
                                      0x7FF0000000000000ull,  // infinities
                                      0xFFF0000000000000ull,
                                      0x7FF8000000000000ull,  // quiet NaNs
                                      0xFFF8000000000000ull,
                                      0x7FF0000000000001ull,  // signalling NaN payloads
                                      0xFFF4000000000123ull,
                                      0x7FFFFFFFFFFFFFFFull,
                                      0x3FB999999999999Aull};  // 0.1
    uint64_t state = 2026;
    for (int i = 0; i < 200000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        patterns.push_back(state ^ (state >> 29));
    }
    std::string text;
    for (uint64_t bits : patterns) {
        double v;
        std::memcpy(&v, &bits, sizeof v);
        text += FormatDouble(v, kExactDigits) + (bits % 5 ? " " : "\n");
    }
    TextReader in(text);
    for (uint64_t bits : patterns) {
        double read = 0;
        ASSERT_TRUE(in.Double(read)) << std::hex << bits << ": " << in.Stop().reason;
        ASSERT_EQ(Bits(read), bits) << std::hex << bits;
    }
    // Digits between the file's 6 and 17: the value to that many significant digits, exponents padded.
    EXPECT_EQ(FormatDouble(0.1, 17), "0.10000000000000001");
    EXPECT_EQ(FormatDouble(1.0 / 3, 9), "0.333333333");
    EXPECT_EQ(FormatDouble(1e-7, 8), "1e-007");
    EXPECT_EQ(FormatDouble(1e-7, kExactDigits), "1e-007");
    EXPECT_EQ(FormatDouble(-0.0, kExactDigits), "-0");
    EXPECT_EQ(FormatDouble(std::numeric_limits<double>::quiet_NaN(), 6), "nan") << "the file format's own";
    TextWriter six, exact(kExactDigits);
    six.Double(0.1 + 0.2);
    exact.Double(0.1 + 0.2);
    EXPECT_EQ(six.Text(), "0.3");
    EXPECT_EQ(exact.Text(), "0.30000000000000004");
}

TEST(FileOps, OtherNanTextsStayWhatTheConversionMakes) {
    for (const char* text : {"nan", "-nan", "NaN(123)", "nan(0x)", "nan(0x10000000000000)", "nan(0xzz)"}) {
        TextReader in(text);
        double v = 0;
        ASSERT_TRUE(in.Double(v)) << text;
        EXPECT_TRUE(std::isnan(v)) << text;
    }
}

}  // namespace
