// The tool's access to the library: one network registered for the length of a command, loaded or built
// through the exports, and inspected through the registry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "src/Net.h"

namespace rcnet::tools {

class RegisteredNet {
public:
    // Registers a network of these sizes; Ok() tells whether the registry took it.
    RegisteredNet(uint32_t inputs, uint32_t outputs, bool threshold);
    ~RegisteredNet();
    RegisteredNet(const RegisteredNet&) = delete;
    RegisteredNet& operator=(const RegisteredNet&) = delete;

    bool Ok() const { return m_Ok; }
    int Id() const { return m_Id; }
    std::shared_ptr<Net> Get() const;

private:
    int m_Id;
    bool m_Ok;
};

// Loads a network file with LoadNetFromFile. When the library refuses it, writes why to stderr (the
// checker's line, column and reason) as "rcnet COMMAND: FILE: ..." and returns false.
bool LoadNetwork(const std::string& path, RegisteredNet& net, const char* command);

// Writes "rcnet COMMAND: FILE: line L, column C: MESSAGE" to stderr for a pattern file the library
// refuses, or the reason it cannot be opened.
void ExplainPatternFile(const std::string& path, const char* command);

// The library's precondition reports on this thread go to stderr, marked as the library's.
void RouteLibraryReports();

}  // namespace rcnet::tools
