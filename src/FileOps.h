// The text forms of the library's files, free of the C library's and the user's locale: counts, flags,
// signed integers and doubles, and a matrix of doubles.
//
// Writing: doubles as C's "%g" with 6 significant digits writes them, but always with an exponent of at
// least three digits (1e-007, 2.5e+006) as the files have always had it; "inf", "-inf" and "nan" for
// values that are not finite. One blank after each matrix value; lines end in CR LF on Windows, LF
// elsewhere.
//
// Reading: any white space before a value; a count is an optional sign and decimal digits ("-1" reads as
// 4294967295); a double is any decimal form with optional sign, point and exponent, or inf / infinity /
// nan. As with a C++ stream, a value is the longest prefix that forms one, and the first failure is
// sticky: every later read fails too.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "src/Report.h"
#include "src/Types.h"

namespace rcnet {

#ifdef _WIN32
inline constexpr char kLineEnd[] = "\r\n";
#else
inline constexpr char kLineEnd[] = "\n";
#endif

// "%.6g" with an exponent of at least three digits.
inline std::string FormatDouble(double value) {
    if (value != value) return "nan";
    if (value == std::numeric_limits<double>::infinity()) return "inf";
    if (value == -std::numeric_limits<double>::infinity()) return "-inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    std::string text(buffer, result.ptr);
    const size_t e = text.find('e');
    if (e != std::string::npos) {
        const size_t digits = text.size() - (e + 2);  // after "e+" or "e-"
        if (digits < 3) text.insert(e + 2, 3 - digits, '0');
    }
    return text;
}

// Collects a file's text in memory; the caller writes it out in one piece.
class TextWriter {
public:
    void Count(uint32_t value) { m_Text += std::to_string(value); }
    void Signed(int32_t value) { m_Text += std::to_string(value); }
    void Flag(bool value) { m_Text += value ? '1' : '0'; }
    void Double(double value) { m_Text += FormatDouble(value); }
    void Blank() { m_Text += ' '; }
    void EndLine() { m_Text += kLineEnd; }
    const std::string& Text() const { return m_Text; }

private:
    std::string m_Text;
};

// Reads values from a file (buffered) or from text in memory.
class TextReader {
public:
    explicit TextReader(std::string text) : m_Text(std::move(text)), m_Size(m_Text.size()) {
        m_Data = m_Text.data();
        m_End = m_Text.size();
    }
    // file stays the caller's; size is its length in bytes (bounds what a header may announce).
    TextReader(std::FILE* file, uint64_t size) : m_File(file), m_Size(size), m_Buffer(kBufferSize) {
        m_Data = m_Buffer.data();
    }
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    bool Failed() const { return m_Failed; }
    // For a caller that finds the text invalid: later reads fail too.
    bool Fail() {
        m_Failed = true;
        return false;
    }

    // At most this many bytes are left to read.
    uint64_t RemainingBytes() const {
        const uint64_t consumed = m_Consumed + m_Pos;
        return consumed < m_Size ? m_Size - consumed : 0;
    }

    bool Count(uint32_t& value) {
        if (!Prepare()) return false;
        size_t at = m_Pos;
        bool negative = false;
        if (m_Data[at] == '+' || m_Data[at] == '-') negative = m_Data[at++] == '-';
        uint64_t magnitude = 0;
        const size_t digitsStart = at;
        while (at < m_End && m_Data[at] >= '0' && m_Data[at] <= '9') {
            magnitude = magnitude * 10 + static_cast<uint64_t>(m_Data[at++] - '0');
            if (magnitude > 0xFFFFFFFFull) return Fail();
        }
        if (at == digitsStart || !Complete(at)) return Fail();
        m_Pos = at;
        value = static_cast<uint32_t>(negative ? 0x100000000ull - magnitude : magnitude);
        return true;
    }

    bool Signed(int32_t& value) {
        uint32_t bits;
        if (!Count(bits)) return false;
        value = static_cast<int32_t>(bits);
        return true;
    }

    bool Flag(bool& value) {
        uint32_t number;
        if (!Count(number)) return false;
        if (number > 1) return Fail();
        value = number == 1;
        return true;
    }

    bool Double(double& value) {
        if (!Prepare()) return false;
        size_t at = m_Pos;
        if (m_Data[at] == '+') {
            ++at;
            if (at < m_End && (m_Data[at] == '-' || m_Data[at] == '+')) return Fail();
        }
        double parsed;
        const auto result = std::from_chars(m_Data + at, m_Data + m_End, parsed, std::chars_format::general);
        if (result.ec != std::errc() || !Complete(static_cast<size_t>(result.ptr - m_Data))) return Fail();
        m_Pos = static_cast<size_t>(result.ptr - m_Data);
        value = parsed;
        return true;
    }

private:
    static constexpr size_t kBufferSize = 1 << 16;
    // Longest value text read; the reader holds at least this much ahead of its position.
    static constexpr size_t kLookahead = 4096;

    // A value that runs up to the end of the buffer while the file goes on may be cut: longer than any
    // value the library writes, so it is refused rather than read in two pieces.
    bool Complete(size_t end) const { return end < m_End || !m_File || m_Eof; }

    static bool IsSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    // Skips white space and makes sure a whole value's text is in the buffer.
    bool Prepare() {
        if (m_Failed) return false;
        for (;;) {
            while (m_Pos < m_End && IsSpace(m_Data[m_Pos])) ++m_Pos;
            if (m_End - m_Pos < kLookahead) Refill();
            if (m_Pos < m_End && !IsSpace(m_Data[m_Pos])) return true;
            if (m_Pos >= m_End) return Fail();  // end of input
        }
    }

    void Refill() {
        if (!m_File || m_Eof) return;
        const size_t kept = m_End - m_Pos;
        std::memmove(m_Buffer.data(), m_Buffer.data() + m_Pos, kept);
        m_Consumed += m_Pos;
        m_Pos = 0;
        m_End = kept;
        while (m_End < m_Buffer.size()) {
            const size_t got = std::fread(m_Buffer.data() + m_End, 1, m_Buffer.size() - m_End, m_File);
            if (got == 0) {
                m_Eof = true;
                break;
            }
            m_End += got;
        }
    }

    std::string m_Text;
    std::FILE* m_File = nullptr;
    uint64_t m_Size = 0;
    std::vector<char> m_Buffer;
    const char* m_Data = nullptr;
    size_t m_Pos = 0;
    size_t m_End = 0;
    uint64_t m_Consumed = 0;
    bool m_Eof = false;
    bool m_Failed = false;
};

// Records or rows without values take no text, so the text cannot bound how many a header may announce.
inline constexpr uint32_t kMaxEmptyRecords = 1u << 20;

namespace fileops {
constexpr char kReportSource[] = "FileOps";

// Header "iSize jSize", then one line per row, each value followed by a blank. jSize is the length of
// row 0; a row of another length is reported, and only its first jSize values (padded with 0 when it is
// shorter) are written, so the text always reads back as a rectangle.
inline void WriteMatrix(TextWriter& out, const Matrix& vector) {
    const size_t iSize = vector.size();
    const size_t jSize = iSize ? vector[0].size() : 0;
    out.Count(static_cast<uint32_t>(iSize));
    out.Blank();
    out.Count(static_cast<uint32_t>(jSize));
    out.EndLine();
    for (size_t i = 0; i < iSize; ++i) {
        RC_CHECK(vector[i].size() == jSize);
        for (size_t j = 0; j < jSize; ++j) {
            out.Double(j < vector[i].size() ? vector[i][j] : 0.0);
            out.Blank();
        }
        out.EndLine();
    }
}

// Reads a matrix written by WriteMatrix into `matrix` (replaced). False when a value is missing or not
// a number; nothing is allocated for values the rest of the input could not hold.
inline bool ReadMatrix(TextReader& in, Matrix& matrix) {
    uint32_t iSize, jSize;
    if (!in.Count(iSize) || !in.Count(jSize)) return false;
    // Every value takes at least one character and one separator. Empty rows take no text at all, so
    // their number has a fixed bound instead: a few million empty vectors at most.
    const uint64_t room = in.RemainingBytes();
    if (uint64_t{iSize} * jSize > room / 2 + 1 || (jSize == 0 && iSize > kMaxEmptyRecords)) return in.Fail();
    Matrix result(iSize);
    for (Vector& row : result) {
        row.resize(jSize);
        for (double& value : row)
            if (!in.Double(value)) return false;
    }
    matrix.swap(result);
    return true;
}
}  // namespace fileops

using fileops::ReadMatrix;
using fileops::WriteMatrix;

}  // namespace rcnet
