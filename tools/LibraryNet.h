// The tool's access to the library: one network registered for the length of a command, and what to say
// about a file the library refuses: its reader's own place and reason, through the inspection interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "include/rcnet_inspect.h"

namespace rcnet::tools {

class RegisteredNet {
public:
    // Registers a network of these sizes; Ok() tells whether the registry took it.
    RegisteredNet(unsigned inputs, unsigned outputs, bool threshold);
    ~RegisteredNet();
    RegisteredNet(const RegisteredNet&) = delete;
    RegisteredNet& operator=(const RegisteredNet&) = delete;

    bool Ok() const { return m_Ok; }
    int Id() const { return m_Id; }

private:
    int m_Id;
    bool m_Ok;
};

// Loads a network file with LoadNetFromFile. When the library refuses it, writes why to stderr as
// "rcnet COMMAND: FILE: line L, column C: REASON" and returns false.
bool LoadNetwork(const std::string& path, RegisteredNet& net, const char* command);

// Writes why a checked file was refused (or cannot be opened) to stderr, as above.
void PrintRefusal(const char* command, const std::string& path, const inspect::FileCheck& check);

// The values of rows that are NaN or infinite: how many, and where the first is.
struct NotFiniteValues {
    uint64_t count = 0;
    size_t row = 0, column = 0;
};
NotFiniteValues FindNotFinite(const std::vector<std::vector<double>>& rows);

// Where a pattern file's sequences start, 0 first (the patterns before its first mark form one too), and
// the pattern count last: sequence s is [bounds[s], bounds[s + 1]).
std::vector<size_t> SequenceBounds(const inspect::PatternFileCheck& patterns);

}  // namespace rcnet::tools
