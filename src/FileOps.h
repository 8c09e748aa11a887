// The text forms of the library's files, free of the C library's and the user's locale: counts, flags,
// signed integers and doubles, and a matrix of doubles.
//
// Writing: doubles as C's "%g" with 6 significant digits writes them, but always with an exponent of at
// least three digits (1e-007, 2.5e+006) as the file format has it on every target; "inf", "-inf" and "nan"
// for values that are not finite. One blank after each matrix value; lines end in CR LF on Windows, LF
// elsewhere.
//
// Reading: any white space before a value; a count is an optional sign and decimal digits ("-1" reads as
// 4294967295); a double is any decimal form with optional sign, point and exponent, or inf / infinity /
// nan. As with a C++ stream, a value is the longest prefix that forms one, and the first failure is
// sticky: every later read fails too. A refused text keeps its place (line, column) and a reason naming
// what the grammar expected there.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

#include "include/rcnet_inspect.h"
#include "platform/Files.h"
#include "src/FileOpsFwd.h"
#include "src/Types.h"

namespace rcnet {

// "%.<digits>g" (6 by default) with an exponent of at least three digits; digits kExactDigits: the
// shortest round trip, and a NaN as "nan(0x<payload>)" with its sign, so that its bits come back too.
std::string FormatDouble(double value, int digits = kFileDigits);

// The shortest text that reads back as the same double (finite values only).
std::string FormatDoubleExact(double value);

// Collects a file's text in memory; the caller writes it out in one piece.
class TextWriter {
public:
    explicit TextWriter(int digits = kFileDigits) : m_Digits(digits) {}
    void Word(const char* word) { m_Text += word; }
    void DoubleExact(double value) { m_Text += FormatDoubleExact(value); }
    void Count(uint32_t value) { m_Text += std::to_string(value); }
    void Signed(int32_t value) { m_Text += std::to_string(value); }
    void Flag(bool value) { m_Text += value ? '1' : '0'; }
    void Double(double value) { m_Text += FormatDouble(value, m_Digits); }
    void Blank() { m_Text += ' '; }
    void EndLine() { m_Text += platform::kLineEnd; }
    const std::string& Text() const { return m_Text; }

private:
    int m_Digits;
    std::string m_Text;
};

// What a value is, for the reason when its text is refused: a text, or a callable that makes one (called
// only then, so that a read that succeeds builds no string). Lives as long as the read it is passed to.
class What {
public:
    What(const char* text) : m_Text(text) {}
    template <typename Make, typename = std::enable_if_t<!std::is_convertible_v<const Make&, const char*>>>
    What(const Make& make)
        : m_Make(&make),
          m_Call([](const void* f) -> std::string { return (*static_cast<const Make*>(f))(); }) {}
    std::string Text() const { return m_Call ? m_Call(m_Make) : std::string(m_Text); }

private:
    const char* m_Text = nullptr;
    const void* m_Make = nullptr;
    std::string (*m_Call)(const void*) = nullptr;
};

// Reads values from a file (buffered) or from text in memory. What it accepts never depends on its
// buffer: a value is read whole, the buffer reading on (and growing, for a value longer than itself)
// while the text read so far could still be the start of a longer value. When it refuses the text it
// keeps where and why (Stop), and the first refusal is final: every later read fails too.
class TextReader {
public:
    static constexpr size_t kDefaultBufferSize = size_t{1} << 16;

    explicit TextReader(std::string text);
    // file stays the caller's; size is its length in bytes (bounds what a header may announce).
    TextReader(std::FILE* file, uint64_t size, size_t bufferSize = kDefaultBufferSize);
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    bool Failed() const { return m_Failed; }
    const inspect::ReadStop& Stop() const { return m_Stop; }

    // For checkers: the grammar notes what it reads here (nothing is kept without).
    void KeepNotes(inspect::ReadNotes* notes) { m_Notes = notes; }
    inspect::ReadNotes* Notes() const { return m_Notes; }

    // At most this many bytes are left to read.
    uint64_t RemainingBytes() const {
        const uint64_t consumed = m_Consumed + m_Pos;
        return consumed < m_Size ? m_Size - consumed : 0;
    }

    // Each read takes what the value is, for the reason when the text is refused there.
    bool Count(uint32_t& value, What what = "a count");
    bool Signed(int32_t& value, What what = "a whole number");
    bool Flag(bool& value, What what = "0 or 1");
    bool Double(double& value, What what = "a number");

    // Reads `word` when it is the next blank-free run of the text; false, reading nothing and refusing
    // nothing, when something else or nothing follows (an optional record's name).
    bool Word(const char* word);

    // Where the value read last starts, and its text (at most 40 bytes; until the next read).
    std::string ValueText() const;
    inspect::TextPlace ValuePlace() const { return {m_Line, m_ValueStart - m_LineStart + 1, m_ValueStart}; }

    // Where the next value starts, or the end of the text (skips the white space before it).
    inspect::TextPlace NextPlace();

    // For a grammar that finds the text invalid: refuses it at `at`; returns false.
    bool Refuse(const inspect::TextPlace& at, std::string reason);

    // For checkers, after the grammar's last value: notes the text that follows, if any.
    void NoteTrailingText();

private:
    enum class Problem { EndOfText, NotANumber, TooLarge, OutOfRange, NotAFlag };
    static constexpr uint64_t kNoValue = ~uint64_t{0};
    static constexpr size_t kExcerpt = 40;  // bytes of a value quoted in a reason

    size_t BufferIndex(uint64_t offset) const { return static_cast<size_t>(offset - m_Consumed); }
    inspect::TextPlace PlaceOf(size_t index) const {
        const uint64_t offset = m_Consumed + index;
        return {m_Line, offset - m_LineStart + 1, offset};
    }
    bool SkipSpace();
    bool StartValue(const What& what);
    void Accept(size_t end);
    bool ReadMore();
    bool Append();
    size_t RunEnd(size_t index);
    std::string Excerpt(size_t begin, size_t end) const;
    void NoteJoined(size_t end);
    bool Refused(Problem problem, const std::string& what, size_t at);
    void RefuseValue(Problem problem, const std::string& what, size_t at);

    std::string m_Text;
    std::FILE* m_File = nullptr;
    uint64_t m_Size = 0;
    std::vector<char> m_Buffer;
    const char* m_Data = nullptr;
    size_t m_Pos = 0;
    size_t m_End = 0;
    uint64_t m_Consumed = 0;  // offset of the buffer's first byte in the text
    bool m_Eof = false;
    bool m_Failed = false;
    inspect::ReadStop m_Stop;
    inspect::ReadNotes* m_Notes = nullptr;
    uint64_t m_Line = 1;
    uint64_t m_LineStart = 0;
    // Offsets of the value read last.
    uint64_t m_ValueStart = kNoValue;
    uint64_t m_ValueEnd = kNoValue;
};

// Records or rows without values need no text, so the text alone cannot bound how many a header may
// announce; this many are admitted whatever follows.
inline constexpr uint32_t kMaxEmptyRecords = 1u << 20;

namespace fileops {
// Header "iSize jSize", then one line per row, each value followed by a blank. jSize is the length of
// row 0; a row of another length is reported, and only its first jSize values (padded with 0 when it is
// shorter) are written, so the text always reads back as a rectangle.
void WriteMatrix(TextWriter& out, const Matrix& vector);

// "3 of 40", "1 byte", "2 bytes": pieces of reasons.
std::string Of(uint64_t i, uint64_t n);
std::string Plural(uint64_t n, const char* one, const char* many);

// Reads a matrix written by WriteMatrix into `matrix` (replaced); `name` ("readout") names it in a
// reason, and `header`, when given, receives its header. False when a value is missing or not a number;
// nothing is allocated for values the rest of the input could not hold.
bool ReadMatrix(TextReader& in, Matrix& matrix, const std::string& name = "matrix",
                inspect::MatrixHeader* header = nullptr);

// ReadFile's work, the grammar given as a function and its context.
bool ReadFileWith(const std::string& path, bool (*read)(void*, TextReader&), void* context, bool* opened);

// Opens the regular file at path and runs read(TextReader&) over it. False when the file cannot be
// opened (opened, when given, tells that case apart), else what read returns. Either way a failure is
// kept for the calling thread's GetLastFileError: the path, and where and why the text was refused.
template <typename Read>
bool ReadFile(const std::string& path, Read&& read, bool* opened = nullptr) {
    using Grammar = std::remove_reference_t<Read>;
    return ReadFileWith(
        path, [](void* f, TextReader& in) -> bool { return (*static_cast<Grammar*>(f))(in); },
        const_cast<void*>(static_cast<const void*>(&read)), opened);
}
}  // namespace fileops

using fileops::ReadFile;
using fileops::ReadMatrix;
using fileops::WriteMatrix;

}  // namespace rcnet
