// Checks network and pattern files: whether the library reads them, with the exact place and reason
// when it does not, and what in a file it reads looks wrong all the same.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/TextScanner.h"

namespace rcnet::tools {

enum class FileKind { Network, Patterns };

struct CheckResult {
    FileKind kind = FileKind::Network;
    bool accepted = false;
    Diagnostic error;                  // why the library refuses the file (when not accepted)
    std::vector<Diagnostic> warnings;  // what the library accepts but looks wrong, in file order
    std::string summary;               // what an accepted file holds, on one line
    // The header of an accepted file: sizes, and for a pattern file the number of patterns.
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    uint32_t patterns = 0;
};

// The library accepts exactly the texts these accept (LoadNetFromFile, and AddPatternsFromFile for a
// network of the file's sizes).
CheckResult CheckNetworkText(std::string text);
CheckResult CheckPatternText(std::string text);

// The kind a file's text most likely is. A pattern file starts with input size, output size and pattern
// count and holds 3 + count x (inputs + outputs) values. A network file's third value is the threshold
// flag, its readout header (two whole numbers) follows, and it holds far more values than a pattern file
// with that header would. When the header is not three whole numbers, a second line of two whole
// numbers (the readout header) says network file.
FileKind GuessFileKind(const std::string& text);

const char* KindName(FileKind kind);

// Reads a file that the library could open (a regular file) into text; false with a reason otherwise.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& error);

}  // namespace rcnet::tools
