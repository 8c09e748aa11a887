// Comma-separated numbers, as `rcnet predict` writes them: an optional header line of names, then one
// row of numbers per line; "nan" or an empty field is NaN (a value not known).
#pragma once

#include <string>
#include <vector>

namespace rcnet::tools {

struct CsvTable {
    std::vector<std::string> header;  // empty without a header line
    std::vector<std::vector<double>> rows;
};

// False after a message (prefixed "rcnet COMMAND: ") naming the file and the line that is not a row of
// numbers, or rows of different lengths.
bool ReadCsv(const std::string& path, const char* command, CsvTable& table);

// Whether a path names a CSV file by its extension (.csv, in any case).
bool IsCsv(const std::string& path);

}  // namespace rcnet::tools
