// Reads the values of a network or pattern file the way the library's reader (src/FileOps.h) reads
// them, and knows where each one stands: line, column and text. The checker uses it to say exactly
// where and why the library refuses a file, so it has to refuse exactly the same texts:
//
// - white space is blank, tab, CR, LF, VT and FF; a value is the longest prefix that forms one, so "12ab"
//   reads 12 and then fails on "ab", and "3-2" reads as 3 and -2;
// - a count is an optional sign and decimal digits, at most 4294967295 in magnitude ("-1" wraps around);
//   a flag is a count that is 0 or 1; a double is what std::from_chars accepts, after an optional "+";
// - the library reads files through a 64 KiB buffer refilled when less than 4 KiB are left ahead of a
//   value, and refuses a value that runs into the buffer's end while the file goes on; the scanner keeps
//   the same window, so even such overlong values get the same verdict;
// - the first failure is final: every later read fails too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rcnet::tools {

struct Position {
    uint64_t line = 1;    // from 1
    uint64_t column = 1;  // from 1, in bytes
};

struct Diagnostic {
    Position at;
    std::string message;
};

class TextScanner {
public:
    explicit TextScanner(std::string text) : m_Text(std::move(text)) {}

    // Each read returns false once the text is refused; `expected` (a callable returning std::string,
    // called only on failure) names what the value should have been.
    template <typename Describe>
    bool Count(uint32_t& value, Describe&& expected) {
        const Problem problem = ReadCount(value);
        return problem == Problem::None || Refuse(problem, expected());
    }
    template <typename Describe>
    bool Signed(int32_t& value, Describe&& expected) {
        uint32_t bits;
        if (!Count(bits, expected)) return false;
        value = static_cast<int32_t>(bits);
        return true;
    }
    template <typename Describe>
    bool Flag(bool& value, Describe&& expected) {
        uint32_t number;
        if (!Count(number, expected)) return false;
        if (number > 1) return Refuse(Problem::NotAFlag, expected(), m_ValueStart);
        value = number == 1;
        return true;
    }
    template <typename Describe>
    bool Double(double& value, Describe&& expected) {
        const Problem problem = ReadDouble(value);
        return problem == Problem::None || Refuse(problem, expected());
    }

    bool Failed() const { return m_Failed; }
    const Diagnostic& Error() const { return m_Error; }

    // Bytes after the current position, as the library counts them to bound what a header announces.
    uint64_t RemainingBytes() const { return m_Pos < m_Text.size() ? m_Text.size() - m_Pos : 0; }

    // The value read last: where it starts and its text.
    Position ValuePosition() const { return PositionOf(m_ValueStart); }
    std::string ValueText() const { return m_Text.substr(m_ValueStart, m_ValueEnd - m_ValueStart); }
    size_t ValueOffset() const { return m_ValueStart; }
    Position PositionOf(size_t offset) const;

    // Refusals found by the caller, at a value read before (its offset) or where the next value would
    // start.
    bool RefuseAt(size_t offset, std::string message);
    bool RefuseAtNext(std::string message);

    // Where non-blank text follows the last value, if it does (the library never reads it).
    bool TrailingText(Position& at, std::string& text) const;

    // Values that directly follow the previous value, without white space between ("3-2"): the first
    // few, and how many in all.
    const std::vector<Diagnostic>& JoinedValues() const { return m_Joined; }
    uint64_t JoinedCount() const { return m_JoinedCount; }

    // Text for a message: at most 40 bytes of the blank-free run starting at offset, quoted, with bytes
    // that are not printable shown as \xNN.
    std::string QuoteRun(size_t offset) const;
    // The same for the bytes begin..end.
    std::string Excerpt(size_t begin, size_t end) const;

private:
    enum class Problem { None, EndOfText, NotANumber, TooLarge, OutOfRange, NotAFlag, TooLong };

    static constexpr size_t kBufferSize = 1 << 16;  // the library reader's buffer and look-ahead
    static constexpr size_t kLookahead = 4096;

    static bool IsSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }

    bool Prepare();
    void Refill();
    bool Complete(size_t end) const { return end < m_WindowEnd || m_Eof; }
    Problem ReadCount(uint32_t& value);
    Problem ReadDouble(double& value);
    void Accept(size_t end);
    bool Refuse(Problem problem, const std::string& expected) { return Refuse(problem, expected, m_Pos); }
    bool Refuse(Problem problem, const std::string& expected, size_t at);

    std::string m_Text;
    size_t m_Pos = 0;
    size_t m_WindowEnd = 0;  // the end of what the library's buffer would hold
    bool m_Eof = false;
    bool m_Failed = false;
    Diagnostic m_Error;

    uint64_t m_Line = 1;
    size_t m_LineStart = 0;
    // Line starts seen so far, for positions of earlier offsets.
    std::vector<size_t> m_LineStarts{0};

    size_t m_ValueStart = 0;
    size_t m_ValueEnd = 0;
    bool m_HaveValue = false;
    std::vector<Diagnostic> m_Joined;
    uint64_t m_JoinedCount = 0;
};

}  // namespace rcnet::tools
