// Collects the precondition reports made on the calling thread while it lives.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "common/Report.h"

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
        static const std::regex form("Assertion failed: (.*), file ([A-Za-z]+), line [0-9]+\n");
        std::vector<std::string> checks;
        for (const std::string& line : m_Lines) {
            std::smatch match;
            checks.push_back(std::regex_match(line, match, form) ? match[1].str() + " @ " + match[2].str()
                                                                  : "MALFORMED: " + line);
        }
        return checks;
    }

    void Clear() { m_Lines.clear(); }

private:
    static void Collect(const char* line, void* context) {
        static_cast<ReportCapture*>(context)->m_Lines.emplace_back(line);
    }

    ReportHook m_Previous;
    std::vector<std::string> m_Lines;
};

}  // namespace rcnet::test
