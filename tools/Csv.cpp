#include "tools/Csv.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace rcnet::tools {
namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    for (size_t from = 0;;) {
        const size_t to = line.find(',', from);
        fields.push_back(line.substr(from, to == std::string::npos ? std::string::npos : to - from));
        if (to == std::string::npos) return fields;
        from = to + 1;
    }
}

// Without the blanks around it and, for a name, the quotes.
std::string Trimmed(const std::string& field) {
    const size_t first = field.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    std::string text = field.substr(first, field.find_last_not_of(" \t") - first + 1);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return text;
}

bool Number(const std::string& field, double& value) {
    if (field.empty() || field == "nan" || field == "NaN") {
        value = std::nan("");
        return true;
    }
    // from_chars takes no plus sign; spreadsheets write one.
    const size_t skip = field[0] == '+' && field.size() > 1 && field[1] != '-' && field[1] != '+' ? 1 : 0;
    const auto result = std::from_chars(field.data() + skip, field.data() + field.size(), value);
    return result.ec == std::errc() && result.ptr == field.data() + field.size();
}

}  // namespace

bool IsCsv(const std::string& path) {
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".csv";
}

bool ReadCsv(const std::string& path, const char* command, CsvTable& table) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "rcnet %s: cannot open %s\n", command, path.c_str());
        return false;
    }
    std::string text;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    table = CsvTable();
    size_t line = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string row = text.substr(start, end - start);
        start = end + 1;
        ++line;
        if (!row.empty() && row.back() == '\r') row.pop_back();
        if (row.empty()) continue;
        if (line == 1 && row.compare(0, 3, "\xEF\xBB\xBF") == 0) row.erase(0, 3);  // a byte-order mark
        std::vector<std::string> fields = Fields(row);
        for (std::string& field : fields) field = Trimmed(field);
        std::vector<double> values(fields.size());
        bool numbers = true;
        for (size_t k = 0; k < fields.size() && numbers; ++k) numbers = Number(fields[k], values[k]);
        if (!numbers && line == 1) {
            table.header = fields;
            continue;
        }
        const size_t width = table.rows.empty() ? table.header.size() : table.rows[0].size();
        if (!numbers || (width != 0 && values.size() != width)) {
            std::fprintf(stderr, "rcnet %s: %s line %zu: expected %s, comma-separated\n", command,
                         path.c_str(), line,
                         width ? (std::to_string(width) + " numbers (or nan)").c_str() : "numbers (or nan)");
            return false;
        }
        table.rows.push_back(std::move(values));
    }
    return true;
}

}  // namespace rcnet::tools
