// What a file's owner names without reading or writing text itself: the digit settings and the reader
// and writer classes (src/FileOps.h).
#pragma once

namespace rcnet {

// The significant digits a file's doubles are written with: 6, the file format's own, up to 17, or
// kExactDigits for the shortest text that reads back as the same double, NaN payloads and signs included.
inline constexpr int kFileDigits = 6;
inline constexpr int kExactDigits = 0;

class TextReader;
class TextWriter;

}  // namespace rcnet
