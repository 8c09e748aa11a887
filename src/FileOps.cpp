#include "src/FileOps.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "src/Report.h"

namespace rcnet {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool MayGoOn(char c) {
    return c == 'e' || c == 'E' || c == 'i' || c == 'I' || c == '(';
}

// "nan(0x<hex>)" (after an optional sign) as the exact-digits writer gives it: value gets that
// payload and sign; any other NaN text keeps what the conversion made of it. (Through memory only:
// a 32-bit x87 return would quiet a signalling NaN.)
void NanWithPayload(const char* p, const char* end, double& value) {
    const bool negative = p < end && *p == '-';
    const char* q = p + (negative ? 1 : 0);
    if (end - q < 7 || std::memcmp(q, "nan(0x", 6) != 0 || end[-1] != ')') return;
    uint64_t payload = 0;
    for (q += 6; q < end - 1; ++q) {
        const char c = Lower(*q);
        const int digit = IsDigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0 || payload >> 48) return;
        payload = payload * 16 + static_cast<uint64_t>(digit);
    }
    if (payload == 0 || payload >> 52) return;  // 0 would be infinity, not a NaN
    const uint64_t bits = (uint64_t{negative} << 63) | (uint64_t{0x7FF} << 52) | payload;
    std::memcpy(&value, &bits, sizeof value);
}

// The length of the longest prefix of [p, end) that the text of some double starts with. Reading a
// double from [p, end) gives what the whole text gives once that prefix stops short of end.
size_t DoublePrefix(const char* p, const char* end) {
    const char* q = p;
    if (q < end && *q == '+') {
        if (++q < end && (*q == '+' || *q == '-')) return static_cast<size_t>(q - p);
    } else if (q < end && *q == '-') {
        ++q;
    }
    if (q < end && (Lower(*q) == 'i' || Lower(*q) == 'n')) {
        const char* word = Lower(*q) == 'i' ? "infinity" : "nan";
        const bool nan = *word == 'n';
        while (q < end && *word && Lower(*q) == *word) ++q, ++word;
        if (nan && !*word && q < end && *q == '(') {
            ++q;
            while (q < end && (IsDigit(*q) || (Lower(*q) >= 'a' && Lower(*q) <= 'z') || *q == '_')) ++q;
            if (q < end && *q == ')') ++q;
        }
        return static_cast<size_t>(q - p);
    }
    while (q < end && IsDigit(*q)) ++q;
    if (q < end && *q == '.') {
        ++q;
        while (q < end && IsDigit(*q)) ++q;
    }
    if (q < end && (*q == 'e' || *q == 'E')) {
        ++q;
        if (q < end && (*q == '+' || *q == '-')) ++q;
        while (q < end && IsDigit(*q)) ++q;
    }
    return static_cast<size_t>(q - p);
}

// "1e-7" -> "1e-007": the file format's exponents have three digits at least.
void PadExponent(std::string& text) {
    const size_t e = text.find('e');
    if (e == std::string::npos) return;
    const size_t digits = text.size() - (e + 2);  // after "e+" or "e-"
    if (digits < 3) text.insert(e + 2, 3 - digits, '0');
}

}  // namespace

std::string FormatDouble(double value, int digits) {
    if (value != value) {
        if (digits != kExactDigits) return "nan";
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        char payload[32];
        std::snprintf(payload, sizeof payload, "nan(0x%llx)",
                      static_cast<unsigned long long>(bits & ((uint64_t{1} << 52) - 1)));
        return (bits >> 63 ? "-" : "") + std::string(payload);
    }
    if (value == std::numeric_limits<double>::infinity()) return "inf";
    if (value == -std::numeric_limits<double>::infinity()) return "-inf";
    char buffer[64];
    const auto result = digits == kExactDigits ? std::to_chars(buffer, buffer + sizeof buffer, value)
                                               : std::to_chars(buffer, buffer + sizeof buffer, value,
                                                               std::chars_format::general, digits);
    std::string text(buffer, result.ptr);
    PadExponent(text);
    return text;
}

std::string FormatDoubleExact(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

TextReader::TextReader(std::string text) : m_Text(std::move(text)), m_Size(m_Text.size()) {
    m_Data = m_Text.data();
    m_End = m_Text.size();
    m_Eof = true;
}

TextReader::TextReader(std::FILE* file, uint64_t size, size_t bufferSize)
    : m_File(file), m_Size(size), m_Buffer(bufferSize > 0 ? bufferSize : 1) {
    m_Data = m_Buffer.data();
}

bool TextReader::Count(uint32_t& value, What what) {
    if (!StartValue(what)) return false;
    for (;;) {
        size_t at = m_Pos;
        bool negative = false;
        if (m_Data[at] == '+' || m_Data[at] == '-') negative = m_Data[at++] == '-';
        uint64_t magnitude = 0;
        const size_t digitsStart = at;
        while (at < m_End && IsDigit(m_Data[at])) {
            magnitude = magnitude * 10 + static_cast<uint64_t>(m_Data[at++] - '0');
            if (magnitude > 0xFFFFFFFFull) return Refused(Problem::TooLarge, what.Text(), m_Pos);
        }
        if (at == m_End && !m_Eof) {  // more digits may follow
            ReadMore();
            continue;
        }
        if (at == digitsStart) return Refused(Problem::NotANumber, what.Text(), m_Pos);
        value = static_cast<uint32_t>(negative ? 0x100000000ull - magnitude : magnitude);
        Accept(at);
        return true;
    }
}

bool TextReader::Signed(int32_t& value, What what) {
    uint32_t bits = 0;
    if (!Count(bits, what)) return false;
    value = static_cast<int32_t>(bits);
    return true;
}

bool TextReader::Flag(bool& value, What what) {
    uint32_t number = 0;
    if (!Count(number, what)) return false;
    if (number > 1) return Refused(Problem::NotAFlag, what.Text(), BufferIndex(m_ValueStart));
    value = number == 1;
    return true;
}

bool TextReader::Double(double& value, What what) {
    if (!StartValue(what)) return false;
    for (;;) {
        size_t at = m_Pos;
        if (m_Data[at] == '+') ++at;
        double parsed;
        const auto result = std::from_chars(m_Data + at, m_Data + m_End, parsed, std::chars_format::general);
        const size_t end = static_cast<size_t>(result.ptr - m_Data);
        // Only a value followed by a byte that could carry it on ("1e" before "5", "inf" before
        // "inity") or by the buffer's end may be read otherwise once more text is in.
        if (result.ec != std::errc() || end == m_End || MayGoOn(m_Data[end])) {
            if (!m_Eof && m_Pos + DoublePrefix(m_Data + m_Pos, m_Data + m_End) == m_End) {
                ReadMore();
                continue;
            }
        }
        if (at > m_Pos && at < m_End && (m_Data[at] == '-' || m_Data[at] == '+'))
            return Refused(Problem::NotANumber, what.Text(), m_Pos);
        if (result.ec != std::errc()) {
            const bool range = result.ec == std::errc::result_out_of_range;
            return Refused(range ? Problem::OutOfRange : Problem::NotANumber, what.Text(), m_Pos);
        }
        value = parsed;
        if (parsed != parsed) NanWithPayload(m_Data + at, m_Data + end, value);
        if (parsed == parsed) platform::CorrectlyRounded(m_Data + at, m_Data + end, value);
        Accept(end);
        return true;
    }
}

// Reads `word` when it is the next blank-free run of the text; false, reading nothing and refusing
// nothing, when something else or nothing follows (an optional record's name).
bool TextReader::Word(const char* word) {
    if (m_Failed || !SkipSpace()) return false;
    const size_t end = RunEnd(m_Pos);
    const size_t length = std::strlen(word);
    if (end - m_Pos != length || std::memcmp(m_Data + m_Pos, word, length) != 0) return false;
    Accept(end);
    return true;
}

// Where the value read last starts, and its text (at most 40 bytes; until the next read).
std::string TextReader::ValueText() const {
    return Excerpt(BufferIndex(m_ValueStart), BufferIndex(m_ValueEnd));
}

// Where the next value starts, or the end of the text (skips the white space before it).
inspect::TextPlace TextReader::NextPlace() {
    if (!m_Failed) SkipSpace();
    return PlaceOf(m_Pos);
}

// For a grammar that finds the text invalid: refuses it at `at`; returns false.
bool TextReader::Refuse(const inspect::TextPlace& at, std::string reason) {
    if (!m_Failed) m_Stop = {at, std::move(reason)};
    m_Failed = true;
    return false;
}

// For checkers, after the grammar's last value: notes the text that follows, if any.
void TextReader::NoteTrailingText() {
    if (!m_Notes || m_Failed || !SkipSpace()) return;
    m_Notes->trailing = true;
    m_Notes->trailingAt = PlaceOf(m_Pos);
    m_Notes->trailingText = Excerpt(m_Pos, RunEnd(m_Pos));
}

// Skips white space, counting lines; false at the end of the input.
bool TextReader::SkipSpace() {
    for (;;) {
        for (; m_Pos < m_End; ++m_Pos) {
            const char c = m_Data[m_Pos];
            if (c > ' ' || !IsSpace(c)) return true;
            if (c == '\n') {
                ++m_Line;
                m_LineStart = m_Consumed + m_Pos + 1;
            }
        }
        if (!ReadMore()) return false;
    }
}

bool TextReader::StartValue(const What& what) {
    if (m_Failed) return false;
    if (SkipSpace()) return true;
    RefuseValue(Problem::EndOfText, what.Text(), m_Pos);
    return false;
}

void TextReader::Accept(size_t end) {
    if (m_Notes && m_ValueEnd == m_Consumed + m_Pos) NoteJoined(end);
    m_ValueStart = m_Consumed + m_Pos;
    m_ValueEnd = m_Consumed + end;
    m_Pos = end;
}

// Reads on in the file; false at the end of the input. The text from the current position on stays
// (with the value before, when the position directly follows it: a reason may quote it), but it may
// move, also when nothing more comes; the buffer grows only when that text fills it.
bool TextReader::ReadMore() {
    if (m_Eof) return false;
    const uint64_t position = m_Consumed + m_Pos;
    const size_t keep =
        m_ValueEnd == position && m_ValueStart >= m_Consumed ? BufferIndex(m_ValueStart) : m_Pos;
    if (keep > 0) {
        std::memmove(m_Buffer.data(), m_Buffer.data() + keep, m_End - keep);
        m_Consumed += keep;
        m_Pos -= keep;
        m_End -= keep;
    } else if (m_End == m_Buffer.size()) {
        m_Buffer.resize(2 * m_Buffer.size());
        m_Data = m_Buffer.data();
    }
    return Append();
}

// Fills the free end of the buffer, moving nothing.
bool TextReader::Append() {
    const size_t got = std::fread(m_Buffer.data() + m_End, 1, m_Buffer.size() - m_End, m_File);
    if (got == 0) {
        m_Eof = true;
        return false;
    }
    m_End += got;
    return true;
}

// The end of the blank-free run at index, as far as a reason quotes it (read on for it).
size_t TextReader::RunEnd(size_t index) {
    while (!m_Eof && m_End - index <= kExcerpt) {
        if (m_End == m_Buffer.size()) {
            m_Buffer.resize(2 * m_Buffer.size());
            m_Data = m_Buffer.data();
        }
        if (!Append()) break;
    }
    size_t end = index;
    while (end < m_End && end - index <= kExcerpt && !IsSpace(m_Data[end])) ++end;
    return end;
}

// At most kExcerpt bytes of [begin, end), bytes that are not printable as \xNN, "..." when cut.
std::string TextReader::Excerpt(size_t begin, size_t end) const {
    const size_t shown = std::min(end, begin + kExcerpt);
    std::string text;
    for (size_t i = begin; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(m_Data[i]);
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            text += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        }
    }
    if (shown < end) text += "...";
    return text;
}

void TextReader::NoteJoined(size_t end) {
    if (m_Notes->joinedCount++ >= inspect::ReadNotes::kMaxJoined) return;
    const size_t previous = BufferIndex(m_ValueStart);
    m_Notes->joined.push_back({ValuePlace(), Excerpt(previous, m_Pos), Excerpt(m_Pos, end)});
}

// Refuses the value at index. Always false, visibly so: a caller's value is then seen as set on
// every path that returns true.
bool TextReader::Refused(Problem problem, const std::string& what, size_t at) {
    RefuseValue(problem, what, at);
    return false;
}

void TextReader::RefuseValue(Problem problem, const std::string& what, size_t at) {
    static const char* const kProblems[] = {"", " is not a number",
                                            " is too large for a count (at most 4294967295)",
                                            " is out of the range of a double", " is not 0 or 1"};
    std::string reason = "the file ends too early";
    if (problem != Problem::EndOfText) reason = "'" + Excerpt(at, RunEnd(at)) + "'" + kProblems[int(problem)];
    reason += " (expected " + what;
    // "2.5" where a count belongs reads 2 and leaves ".5" for the next value: say so.
    if (problem != Problem::EndOfText && m_ValueEnd == m_Consumed + at && at > 0) {
        reason += "; it directly follows '" + Excerpt(BufferIndex(m_ValueStart), at) +
                  "', which was read as the value before";
    }
    reason += ")";
    Refuse(PlaceOf(at), std::move(reason));
}

namespace fileops {
constexpr char kReportSource[] = "FileOps";

void WriteMatrix(TextWriter& out, const Matrix& vector) {
    const size_t iSize = vector.size();
    const size_t jSize = iSize ? vector[0].size() : 0;
    out.Count(static_cast<uint32_t>(iSize));
    out.Blank();
    out.Count(static_cast<uint32_t>(jSize));
    out.EndLine();
    for (size_t i = 0; i < iSize; ++i) {
        RC_CHECK_AS(RCNET_REPORT_SIZE, vector[i].size() == jSize);
        for (size_t j = 0; j < jSize; ++j) {
            out.Double(j < vector[i].size() ? vector[i][j] : 0.0);
            out.Blank();
        }
        out.EndLine();
    }
}

std::string Of(uint64_t i, uint64_t n) {
    return std::to_string(i) + " of " + std::to_string(n);
}

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool ReadMatrix(TextReader& in, Matrix& matrix, const std::string& name, inspect::MatrixHeader* header) {
    uint32_t iSize = 0, jSize = 0;
    if (!in.Count(iSize, [&] { return "the number of rows of the " + name + " (its header's first value)"; }))
        return false;
    const inspect::TextPlace at = in.ValuePlace();
    if (!in.Count(jSize,
                  [&] { return "the number of columns of the " + name + " (its header's second value)"; }))
        return false;
    if (header) *header = {iSize, jSize, at};
    // Every value takes at least one character and one separator. An empty row may take no text at all:
    // up to a fixed number are admitted whatever follows, more only as many as the remaining bytes
    // (WriteMatrix ends every row with a line break, so every file it writes reads back).
    const uint64_t room = in.RemainingBytes();
    if (uint64_t{iSize} * jSize > room / 2 + 1) {
        return in.Refuse(at, "the " + name + " header announces " + std::to_string(iSize) + " x " +
                                 std::to_string(jSize) + " values, more than the remaining " +
                                 Plural(room, "byte", "bytes") +
                                 " of the file can hold (the file ends before the announced content)");
    }
    if (jSize == 0 && iSize > kMaxEmptyRecords && iSize > room) {
        return in.Refuse(at, "the " + name + " header announces " + std::to_string(iSize) +
                                 " empty rows, more than the library accepts (" +
                                 std::to_string(kMaxEmptyRecords) + ") and more than the remaining " +
                                 Plural(room, "byte", "bytes") + " of the file can hold");
    }
    Matrix result(iSize);
    for (uint32_t i = 0; i < iSize; ++i) {
        Vector& row = result[i];
        row.resize(jSize);
        for (uint32_t j = 0; j < jSize; ++j) {
            const auto what = [&] {
                return "value " + Of(j + 1, jSize) + " of row " + Of(i + 1, iSize) + " of the " + name;
            };
            if (!in.Double(row[j], what)) return false;
        }
    }
    matrix.swap(result);
    return true;
}

bool ReadFileWith(const std::string& path, bool (*read)(void*, TextReader&), void* context, bool* opened) {
    uint64_t size = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::OpenForReading(path, size),
                                                               &std::fclose);
    if (opened) *opened = file != nullptr;
    if (!file) {
        KeepFileError((path + ": cannot be opened (missing, not a regular file, or not readable)").c_str(),
                      RCNET_REPORT_FILE_ACCESS);
        return false;
    }
    TextReader in(file.get(), size);
    const bool accepted = read(context, in);
    if (!accepted && !in.Stop().reason.empty()) {
        const inspect::TextPlace& at = in.Stop().at;
        KeepFileError((path + ": line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                       ": " + in.Stop().reason)
                          .c_str(),
                      RCNET_REPORT_FILE_FORMAT);
    }
    return accepted;
}
}  // namespace fileops

}  // namespace rcnet
