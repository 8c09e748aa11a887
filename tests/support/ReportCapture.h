// Collects the precondition reports made on the calling thread while it lives.
#pragma once

#include <string>
#include <vector>

#include "src/Report.h"

namespace rcnet::test {

class ReportCapture {
public:
    ReportCapture() : m_Previous(SetThreadReportHook({&Collect, this})) {}
    ~ReportCapture() { SetThreadReportHook(m_Previous); }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    const std::vector<std::string>& Lines() const { return m_Lines; }

    // "EXPR @ SOURCE" per report, the line number dropped (it moves whenever the source is edited).
    std::vector<std::string> Checks() const {
        std::vector<std::string> checks;
        for (const std::string& line : m_Lines) checks.push_back(Parse(line));
        return checks;
    }

    void Clear() { m_Lines.clear(); }

private:
    // "Assertion failed: EXPR, file SOURCE, line N\n" -> "EXPR @ SOURCE"; anything else is marked.
    static std::string Parse(const std::string& line) {
        const std::string head = "Assertion failed: ";
        const size_t file = line.rfind(", file ");
        const size_t number = line.rfind(", line ");
        const bool wellFormed = line.compare(0, head.size(), head) == 0 && file != std::string::npos &&
                                number != std::string::npos && file < number && line.back() == '\n' &&
                                number + 7 < line.size() - 1 &&
                                line.find_first_not_of("0123456789", number + 7) == line.size() - 1;
        if (!wellFormed) return "MALFORMED: " + line;
        return line.substr(head.size(), file - head.size()) + " @ " +
               line.substr(file + 7, number - file - 7);
    }

    static void Collect(const char* line, void* context) {
        static_cast<ReportCapture*>(context)->m_Lines.emplace_back(line);
    }

    ReportHook m_Previous;
    std::vector<std::string> m_Lines;
};

}  // namespace rcnet::test
