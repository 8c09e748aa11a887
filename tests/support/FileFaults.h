// Faults the file layer can be made to show, for tests of what saving does when the disk fills up.
#pragma once

namespace rcnet::platform {

// The next file replacement fails as if the disk filled up after `bytes` bytes (negative: never).
// Defined beside the code it affects (platform/Files.cpp); declared only here, for the tests.
void FailNextWriteAfter(long long bytes);

}  // namespace rcnet::platform
