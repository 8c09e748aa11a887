// A hash of every result a run of calls gives, bit for bit: two runs that differ anywhere differ here.
#pragma once

#include <cstdint>
#include <cstring>

namespace rcnet::test {

class Fingerprint {
public:
    void Add(double x) {
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        m_Hash = (m_Hash ^ bits) * 1099511628211ull;
    }
    void Add(int x) { Add(static_cast<double>(x)); }
    void Add(const double* x, int count) {
        for (int i = 0; i < count; ++i) Add(x[i]);
    }
    uint64_t Value() const { return m_Hash; }

private:
    uint64_t m_Hash = 1469598103934665603ull;
};

}  // namespace rcnet::test
