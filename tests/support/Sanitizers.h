// Whether this build runs under AddressSanitizer or ThreadSanitizer: those builds look for memory and
// thread faults, so the long numerical runs take a shorter course there (the plain build runs them whole).
#pragma once

namespace rcnet::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif

}  // namespace rcnet::test
