#include "tools/TextScanner.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <system_error>

namespace rcnet::tools {
namespace {
// Enough joined-value warnings to show; a file full of them needs no more to be understood.
constexpr size_t kMaxJoined = 20;
}  // namespace

Position TextScanner::PositionOf(size_t offset) const {
    offset = std::min(offset, m_Text.size());
    size_t known = m_LineStarts.back();
    uint64_t line = m_LineStarts.size();
    if (offset >= known) {
        // Past the lines seen so far (trailing text, the end of the file): count on.
        for (size_t i = known; i < offset; ++i) {
            if (m_Text[i] == '\n') {
                ++line;
                known = i + 1;
            }
        }
        return {line, offset - known + 1};
    }
    const auto it = std::upper_bound(m_LineStarts.begin(), m_LineStarts.end(), offset) - 1;
    return {static_cast<uint64_t>(it - m_LineStarts.begin()) + 1, offset - *it + 1};
}

// The library reader's Prepare: skip white space, refill when less than the look-ahead is left, fail at
// the end of the text.
bool TextScanner::Prepare() {
    if (m_Failed) return false;
    for (;;) {
        while (m_Pos < m_WindowEnd && IsSpace(m_Text[m_Pos])) {
            if (m_Text[m_Pos] == '\n') m_LineStarts.push_back(m_Pos + 1);
            ++m_Pos;
        }
        if (m_WindowEnd - m_Pos < kLookahead) Refill();
        if (m_Pos < m_WindowEnd && !IsSpace(m_Text[m_Pos])) return true;
        if (m_Pos >= m_WindowEnd) return false;
    }
}

// The buffer keeps what is left ahead and is filled up to its size; the end of the file is noticed
// when a read comes back empty, that is when less than a full buffer was left.
void TextScanner::Refill() {
    if (m_Eof) return;
    const size_t size = m_Text.size();
    m_WindowEnd = std::min(size, m_Pos + kBufferSize);
    if (size - m_Pos < kBufferSize) m_Eof = true;
}

TextScanner::Problem TextScanner::ReadCount(uint32_t& value) {
    if (!Prepare()) return Problem::EndOfText;
    size_t at = m_Pos;
    bool negative = false;
    if (m_Text[at] == '+' || m_Text[at] == '-') negative = m_Text[at++] == '-';
    uint64_t magnitude = 0;
    const size_t digitsStart = at;
    while (at < m_WindowEnd && m_Text[at] >= '0' && m_Text[at] <= '9') {
        magnitude = magnitude * 10 + static_cast<uint64_t>(m_Text[at++] - '0');
        if (magnitude > 0xFFFFFFFFull) return Problem::TooLarge;
    }
    if (at == digitsStart) return Problem::NotANumber;
    if (!Complete(at)) return Problem::TooLong;
    value = static_cast<uint32_t>(negative ? 0x100000000ull - magnitude : magnitude);
    Accept(at);
    return Problem::None;
}

TextScanner::Problem TextScanner::ReadDouble(double& value) {
    if (!Prepare()) return Problem::EndOfText;
    size_t at = m_Pos;
    if (m_Text[at] == '+') {
        ++at;
        if (at < m_WindowEnd && (m_Text[at] == '-' || m_Text[at] == '+')) return Problem::NotANumber;
    }
    const char* begin = m_Text.data() + at;
    double parsed;
    const auto result =
        std::from_chars(begin, m_Text.data() + m_WindowEnd, parsed, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) return Problem::OutOfRange;
    if (result.ec != std::errc()) return Problem::NotANumber;
    const size_t end = static_cast<size_t>(result.ptr - m_Text.data());
    if (!Complete(end)) return Problem::TooLong;
    value = parsed;
    Accept(end);
    return Problem::None;
}

void TextScanner::Accept(size_t end) {
    if (m_HaveValue && m_ValueEnd == m_Pos && m_JoinedCount++ < kMaxJoined) {
        m_Joined.push_back({PositionOf(m_ValueStart), QuoteRun(m_ValueStart) + " is read as two values, " +
                                                          Excerpt(m_ValueStart, m_ValueEnd) + " and " +
                                                          Excerpt(m_Pos, end) +
                                                          ", with no white space between them"});
    }
    m_ValueStart = m_Pos;
    m_ValueEnd = end;
    m_HaveValue = true;
    m_Pos = end;
}

std::string TextScanner::QuoteRun(size_t offset) const {
    size_t end = offset;
    while (end < m_Text.size() && !IsSpace(m_Text[end])) ++end;
    return Excerpt(offset, end);
}

std::string TextScanner::Excerpt(size_t begin, size_t end) const {
    constexpr size_t kShown = 40;
    const size_t shown = std::min(end, begin + kShown);
    std::string quoted = "'";
    for (size_t i = begin; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(m_Text[i]);
        if (c >= 0x20 && c < 0x7F) {
            quoted += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            quoted += escaped;
        }
    }
    quoted += '\'';
    if (shown < end) quoted += "...";
    return quoted;
}

bool TextScanner::Refuse(Problem problem, const std::string& expected, size_t at) {
    m_Failed = true;
    std::string what;
    switch (problem) {
        case Problem::EndOfText:
            at = m_Text.size();
            what = "the file ends too early";
            break;
        case Problem::NotANumber:
            what = QuoteRun(at) + " is not a number";
            break;
        case Problem::TooLarge:
            what = QuoteRun(at) + " is too large for a count (at most 4294967295)";
            break;
        case Problem::OutOfRange:
            what = QuoteRun(at) + " is out of the range of a double";
            break;
        case Problem::NotAFlag:
            what = QuoteRun(at) + " is not 0 or 1";
            break;
        case Problem::TooLong:
            what = QuoteRun(at) +
                   " is too long for the library's read buffer (values over 4096 bytes may be cut)";
            break;
        case Problem::None:
            break;
    }
    std::string message = what + " (expected " + expected;
    // "2.5" where a count belongs reads 2 and leaves ".5" for the next value: say so.
    if (problem != Problem::EndOfText && m_HaveValue && m_ValueEnd == at && at > 0) {
        message += "; it directly follows " + Excerpt(m_ValueStart, m_ValueEnd) +
                   ", which was read as the value before";
    }
    message += ")";
    m_Error = {PositionOf(at), std::move(message)};
    return false;
}

bool TextScanner::RefuseAt(size_t offset, std::string message) {
    m_Failed = true;
    m_Error = {PositionOf(offset), std::move(message)};
    return false;
}

bool TextScanner::RefuseAtNext(std::string message) {
    size_t at = m_Pos;
    while (at < m_Text.size() && IsSpace(m_Text[at])) ++at;
    return RefuseAt(at, std::move(message));
}

bool TextScanner::TrailingText(Position& at, std::string& text) const {
    size_t offset = m_Pos;
    while (offset < m_Text.size() && IsSpace(m_Text[offset])) ++offset;
    if (offset >= m_Text.size()) return false;
    at = PositionOf(offset);
    text = QuoteRun(offset);
    return true;
}

}  // namespace rcnet::tools
