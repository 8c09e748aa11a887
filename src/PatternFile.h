// The pattern file: input size A, output size B, pattern count C, then C records of A inputs and B
// targets, all separated by any white space. Optionally, after the records, where training sequences
// start: "sequences K s1 ... sK", K ascending pattern indices below C (readers that know only the records
// stop before it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "src/FileOpsFwd.h"
#include "src/Types.h"
#include "src/VectorList.h"

namespace rcnet {

struct PatternFile {
    uint32_t inputSize = 0;
    uint32_t outputSize = 0;
    VectorList inputs;
    VectorList outputs;
    std::vector<uint32_t> sequenceStarts;  // empty: the file is one stream
};

// All or nothing: false when the file cannot be opened, its header cannot be read, it ends before the
// announced records are complete, a value is not a number, or a sequences record is malformed. Other
// text after the last record is ignored.
// Memory grows only with what the file holds, never with what its header announces.
bool ReadPatternFile(const std::string& path, PatternFile& file);

// The same from any text or open file; `file` is filled only on success, and a refused text leaves its
// place and reason in in.Stop().
bool ReadPatterns(TextReader& in, PatternFile& file);

}  // namespace rcnet
