// rcnet check: whether the library accepts a network or pattern file, and where and why not.
#include <cstdio>

#include "tools/Commands.h"
#include "tools/FileCheck.h"

namespace rcnet::tools {
namespace {

void PrintDiagnostic(const std::string& file, const Diagnostic& d, const char* label) {
    std::fprintf(stderr, "%s: line %llu, column %llu: %s%s\n", file.c_str(),
                 static_cast<unsigned long long>(d.at.line), static_cast<unsigned long long>(d.at.column),
                 label, d.message.c_str());
}

}  // namespace

int RunCheck(const CheckOptions& options) {
    std::string text, error;
    if (!ReadWholeFile(options.file, text, error)) {
        std::fprintf(stderr, "rcnet check: cannot read %s: %s\n", options.file.c_str(), error.c_str());
        return kExitFailure;
    }
    const bool guessed = options.kind.empty();
    FileKind kind = options.kind == "net" ? FileKind::Network : FileKind::Patterns;
    if (guessed) kind = GuessFileKind(text);

    const CheckResult result =
        kind == FileKind::Network ? CheckNetworkText(std::move(text)) : CheckPatternText(std::move(text));
    if (!result.accepted) PrintDiagnostic(options.file, result.error, "");
    for (const Diagnostic& warning : result.warnings) PrintDiagnostic(options.file, warning, "warning: ");

    const std::string as = std::string(KindName(kind)) + (guessed ? " (guessed; --kind chooses)" : "");
    if (result.accepted) {
        std::printf("%s: accepted as a %s: %s", options.file.c_str(), as.c_str(), result.summary.c_str());
        if (!result.warnings.empty())
            std::printf("; %zu warning%s", result.warnings.size(), result.warnings.size() == 1 ? "" : "s");
        std::printf("\n");
        return kExitOk;
    }
    std::printf("%s: refused as a %s\n", options.file.c_str(), as.c_str());
    return kExitFailure;
}

}  // namespace rcnet::tools
