#include "tools/LibraryNet.h"

#include <cstdio>

#include "include/rcnet.h"
#include "src/NetManager.h"
#include "src/Report.h"
#include "tools/FileCheck.h"

namespace rcnet::tools {
namespace {
// The tool runs one network per process; any id would do.
constexpr int kToolNetId = 1;

void PrintRefusal(const std::string& path, const char* command, const CheckResult& check) {
    std::fprintf(stderr, "rcnet %s: %s: line %llu, column %llu: %s\n", command, path.c_str(),
                 static_cast<unsigned long long>(check.error.at.line),
                 static_cast<unsigned long long>(check.error.at.column), check.error.message.c_str());
}

void WriteLibraryReport(const char* line, void*) {
    std::fprintf(stderr, "rcnet: library report: %s", line);
}
}  // namespace

RegisteredNet::RegisteredNet(uint32_t inputs, uint32_t outputs, bool threshold)
    : m_Id(kToolNetId),
      m_Ok(RegisterUsage(m_Id, static_cast<int>(inputs), static_cast<int>(outputs), threshold ? 1 : 0) == 1) {
}

RegisteredNet::~RegisteredNet() {
    if (m_Ok) UnregisterUsage(m_Id);
}

std::shared_ptr<Net> RegisteredNet::Get() const {
    return NetManager::Instance().GetNet(m_Id);
}

bool LoadNetwork(const std::string& path, RegisteredNet& net, const char* command) {
    if (!net.Ok()) {
        std::fprintf(stderr, "rcnet %s: cannot register a network\n", command);
        return false;
    }
    if (LoadNetFromFile(net.Id(), path.c_str())) return true;
    std::string text, error;
    if (!ReadWholeFile(path, text, error)) {
        std::fprintf(stderr, "rcnet %s: cannot read %s: %s\n", command, path.c_str(), error.c_str());
        return false;
    }
    const CheckResult check = CheckNetworkText(std::move(text));
    if (check.accepted) {
        // The checker reads what the library reads; this is left for what it cannot see (memory).
        std::fprintf(stderr, "rcnet %s: the library could not load %s\n", command, path.c_str());
    } else {
        PrintRefusal(path, command, check);
    }
    return false;
}

void ExplainPatternFile(const std::string& path, const char* command) {
    std::string text, error;
    if (!ReadWholeFile(path, text, error)) {
        std::fprintf(stderr, "rcnet %s: cannot read %s: %s\n", command, path.c_str(), error.c_str());
        return;
    }
    const CheckResult check = CheckPatternText(std::move(text));
    if (check.accepted) {
        std::fprintf(stderr, "rcnet %s: the library could not read %s\n", command, path.c_str());
    } else {
        PrintRefusal(path, command, check);
    }
}

void RouteLibraryReports() {
    SetThreadReportHook({&WriteLibraryReport, nullptr});
}

}  // namespace rcnet::tools
