#include "tools/LibraryNet.h"

#include <cmath>
#include <cstdio>

#include "include/rcnet.h"

namespace rcnet::tools {
namespace {
// The tool runs one network per process; any id would do.
constexpr int kToolNetId = 1;
}  // namespace

RegisteredNet::RegisteredNet(unsigned inputs, unsigned outputs, bool threshold)
    : m_Id(kToolNetId),
      m_Ok(RegisterUsage(m_Id, static_cast<int>(inputs), static_cast<int>(outputs), threshold ? 1 : 0) == 1) {
}

RegisteredNet::~RegisteredNet() {
    if (m_Ok) UnregisterUsage(m_Id);
}

bool LoadNetwork(const std::string& path, RegisteredNet& net, const char* command) {
    if (!net.Ok()) {
        std::fprintf(stderr, "rcnet %s: cannot register a network\n", command);
        return false;
    }
    if (LoadNetFromFile(net.Id(), path.c_str())) return true;
    const inspect::NetworkFileCheck check = inspect::CheckNetworkFile(path);
    if (check.accepted) {
        // The check reads what the library reads; this is left for what it cannot see (memory).
        std::fprintf(stderr, "rcnet %s: the library could not load %s\n", command, path.c_str());
    } else {
        PrintRefusal(command, path, check);
    }
    return false;
}

void PrintRefusal(const char* command, const std::string& path, const inspect::FileCheck& check) {
    if (!check.opened) {
        std::fprintf(stderr, "rcnet %s: cannot read %s: %s\n", command, path.c_str(),
                     check.stop.reason.c_str());
        return;
    }
    std::fprintf(stderr, "rcnet %s: %s: line %llu, column %llu: %s\n", command, path.c_str(),
                 static_cast<unsigned long long>(check.stop.at.line),
                 static_cast<unsigned long long>(check.stop.at.column), check.stop.reason.c_str());
}

NotFiniteValues FindNotFinite(const std::vector<std::vector<double>>& rows) {
    NotFiniteValues found;
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            if (!std::isfinite(rows[r][c]) && found.count++ == 0) found.row = r, found.column = c;
    return found;
}

std::vector<size_t> SequenceBounds(const inspect::PatternFileCheck& patterns) {
    std::vector<size_t> bounds{0};
    for (uint32_t start : patterns.sequenceStarts)
        if (start > bounds.back()) bounds.push_back(start);
    if (patterns.inputs.size() > bounds.back()) bounds.push_back(patterns.inputs.size());
    return bounds;
}

}  // namespace rcnet::tools
