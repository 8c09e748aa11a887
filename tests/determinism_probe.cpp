// Prints fingerprints of the library's arithmetic: one line "name hash" per quantity. The native build
// and the 32-bit DLL build must print the same lines, bit for bit; a test compares them.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/Exp.h"
#include "common/Neurons.h"
#include "include/rcnet.h"
#include "src/NetManager.h"

namespace {

class Fingerprint {
public:
    void Add(double x) {
        uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        for (int i = 0; i < 8; ++i) m_Hash = (m_Hash ^ ((bits >> (8 * i)) & 0xFF)) * 1099511628211ull;
    }
    void Print(const char* name) const {
        std::printf("%s %016llx\n", name, static_cast<unsigned long long>(m_Hash));
    }

private:
    uint64_t m_Hash = 1469598103934665603ull;
};

// Arguments spread over [lo, hi) from a fixed integer sequence.
template <typename Fn>
void Sweep(const char* name, double lo, double hi, long count, Fn&& fn) {
    Fingerprint print;
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (long i = 0; i < count; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        print.Add(fn(lo + (hi - lo) * static_cast<double>(state >> 11) * 0x1p-53));
    }
    print.Print(name);
}

}  // namespace

int main() {
    using namespace rcnet;
    Sweep("exp.active", -21, 21, 400000, [](double x) { return Exp(x); });
    Sweep("exp.wide", -746, 710, 200000, [](double x) { return Exp(x); });
    Sweep("sigmoid", -25, 25, 200000,
          [](double x) { return SigmoidFunction::Value(x) + SigmoidFunction::Derivative(x); });
    Sweep("bisigmoid", -25, 25, 200000,
          [](double x) { return BiSigmoidFunction::Value(x) + BiSigmoidFunction::Derivative(x); });
    Sweep("rsdn", -1e4, 1e4, 200000,
          [](double x) { return RSDNFunction::Value(x) + RSDNFunction::Derivative(x); });

    // A mixed reservoir built through the exports and run for a while.
    Randomize(20261207);
    RegisterUsage(1, 3, 1, 1);
    for (int type = 0; type < 4; ++type) AddNeuronsToNet(1, 30, type);
    AddRandomConnectionsToNet(1, 600);
    AddRandomBackConnectionsToNet(1, 400);
    InitNetInputMatrix(1, 3);
    Reservoire& reservoir = NetManager::Instance().GetNet(1)->Reservoir();
    Fingerprint states;
    for (int step = 0; step < 500; ++step) {
        reservoir.SetInputs({0.5 * step / 500.0, -1.0 + step % 7 * 0.3, 0.01 * (step % 13)});
        reservoir.Step();
        for (double s : reservoir.GetState()) states.Add(s);
    }
    states.Print("reservoir.states");
    Fingerprint matrix;
    for (const Vector& row : reservoir.InputMatrix())
        for (double w : row) matrix.Add(w);
    matrix.Print("reservoir.matrix");
    UnregisterUsage(1);
    return 0;
}
