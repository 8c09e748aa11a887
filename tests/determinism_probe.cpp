// Prints fingerprints of the library's arithmetic: one line "name hash" per quantity. The native build
// and the 32-bit DLL build must print the same lines, bit for bit; a test compares them.
//
//   determinism_probe FILE        also saves a trained network to FILE and fingerprints its bytes (line
//                                 ends as LF) and what the network reloaded from it propagates
//   determinism_probe load FILE   only loads FILE (written by either target) and fingerprints what it
//                                 propagates
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "include/rcnet.h"
#include "src/Activations.h"
#include "src/EigenvalueRadius.h"
#include "src/NetManager.h"
#include "src/RidgeChoice.h"
#include "src/Solver/QrSolver.h"
#include "src/kernels/Exp.h"

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

// Data from integer arithmetic only (C libraries' sin and cos differ between the targets): the next
// value of a fixed sequence, in [-1, 1).
double Uniform(uint64_t& state) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) * 0x1p-52 - 1.0;
}

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

// Fifty propagation steps of network id from deterministic inputs.
void PrintPropagation(int id, const char* name) {
    Fingerprint outputs;
    for (int step = 0; step < 50; ++step) {
        const double ins[2] = {step * 0.03125 - 0.5, 0.25};
        double outs[2] = {0, 0};
        PropagatePattern(id, 2, ins, 2, outs);
        outputs.Add(outs[0]);
        outputs.Add(outs[1]);
    }
    outputs.Print(name);
}

int LoadOnly(const char* path) {
    RegisterUsage(3, 1, 1, 1);
    if (!LoadNetFromFile(3, path)) return 1;
    PrintPropagation(3, "reloaded.propagate");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace rcnet;
    if (argc == 3 && std::strcmp(argv[1], "load") == 0) return LoadOnly(argv[2]);
    const char* savePath = argc == 2 ? argv[1] : nullptr;
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

    // Training and propagation, with and without threshold, through the exports.
    for (int threshold = 0; threshold < 2; ++threshold) {
        Randomize(99 + threshold);
        RegisterUsage(2, 2, 2, threshold);
        AddNeuronsToNet(2, 60, 1);
        AddNeuronsToNet(2, 20, 0);
        AddRandomConnectionsToNet(2, 300);
        AddRandomBackConnectionsToNet(2, 200);
        InitNetInputMatrix(2, 2);
        // Data from integer arithmetic only: C libraries' sin and cos differ between the targets.
        std::vector<double> inputs, targets;
        uint64_t state = 12345;
        auto next = [&state] { return Uniform(state); };
        for (int p = 0; p < 400; ++p) {
            inputs.push_back(next());
            inputs.push_back(0.5 * next());
            targets.push_back(inputs[2 * p] - 0.25 * inputs[2 * p + 1]);
            targets.push_back(inputs[2 * p] * inputs[2 * p + 1]);
        }
        AddPatternsToNet(2, 400, 2, inputs.data(), 2, targets.data());
        LearnNet(2);
        Fingerprint weights;
        for (const Vector& row : NetManager::Instance().GetNet(2)->OutputWeights())
            for (double w : row) weights.Add(w);
        weights.Print(threshold ? "learn.threshold.weights" : "learn.plain.weights");
        Fingerprint outputs;
        for (int p = 0; p < 100; ++p) {
            double outs[2];
            PropagatePattern(2, 2, &inputs[2 * p], 2, outs);
            outputs.Add(outs[0]);
            outputs.Add(outs[1]);
        }
        outputs.Print(threshold ? "propagate.threshold" : "propagate.plain");
        if (threshold && savePath) {
            if (!SaveNetToFile(2, savePath)) return 1;
            std::FILE* file = std::fopen(savePath, "rb");
            Fingerprint bytes;
            for (int c; file && (c = std::fgetc(file)) != EOF;)
                if (c != '\r') bytes.Add(c);
            if (file) std::fclose(file);
            bytes.Print("file.bytes");
            RegisterUsage(3, 1, 1, 1);
            LoadNetFromFile(3, savePath);
            PrintPropagation(3, "reloaded.propagate");
            UnregisterUsage(3);
        }
        UnregisterUsage(2);
    }

    // The stable readout through the exports: linear neurons among tanh-like ones, without and with a
    // ridge, one output at a time and jointly.
    for (int variant = 0; variant < 4; ++variant) {
        const double ridge = variant % 2 ? 1e-6 : 0.0;
        Randomize(57);
        RegisterUsage(6, 2, 2, 1);
        AddNeuronsToNet(6, 60, 1);
        AddNeuronsToNet(6, 30, 3);
        AddRandomConnectionsToNet(6, 250);
        AddRandomBackConnectionsToNet(6, 200);
        InitNetInputMatrix(6, 2);
        std::vector<double> inputs, targets;
        uint64_t state = 777;
        auto next = [&state] { return Uniform(state); };
        for (int p = 0; p < 500; ++p) {
            inputs.push_back(next());
            inputs.push_back(0.5 * next());
            targets.push_back(0.75 - inputs[2 * p] * inputs[2 * p + 1]);
            targets.push_back(p ? inputs[2 * p - 2] : 0.0);
        }
        AddPatternsToNet(6, 500, 2, inputs.data(), 2, targets.data());
        SetNetReadoutSolver(6, 1);
        SetNetRegularization(6, &ridge);
        SetNetWashout(6, 20);
        if (variant < 2) {
            LearnNet(6);
        } else {
            LearnNetJointly(6);
        }
        Fingerprint stable;
        for (const Vector& row : NetManager::Instance().GetNet(6)->OutputWeights())
            for (double w : row) stable.Add(w);
        const char* names[] = {"stable", "stable.ridge", "stable.jointly", "stable.jointly.ridge"};
        stable.Print((std::string(names[variant]) + ".weights").c_str());
        PrintPropagation(6, (std::string(names[variant]) + ".propagate").c_str());
        UnregisterUsage(6);
    }

    // The ridge choice: every fold's tridiagonal solves, seen through the held-out errors.
    {
        uint64_t state = 4242;
        std::vector<SolverPattern> rows(400);
        Matrix targets(400);
        for (size_t r = 0; r < rows.size(); ++r) {
            for (int j = 0; j < 30; ++j) rows[r].values.push_back(Uniform(state));
            targets[r] = {rows[r].values[0] * rows[r].values[1] + 0.1 * Uniform(state), Uniform(state)};
        }
        const RidgeChoice choice = ChooseRidge(rows, targets);
        Fingerprint ridge;
        ridge.Add(choice.ridge);
        for (double e : choice.errors) ridge.Add(e);
        ridge.Print("ridge.choice");
    }

    // The stable readout's solver on rank-deficient rows: a column repeated, one always zero, one a
    // combination of two others; streamed in chunks of 1, 7 and the default; ridges up to 1e300.
    {
        Fingerprint qr;
        uint64_t state = 4242;
        auto next = [&state] { return Uniform(state); };
        std::vector<double> rows;
        for (int i = 0; i < 300; ++i) {
            double x[12], y[2];
            for (double& v : x) v = next();
            x[3] = x[0];
            x[5] = 0.0;
            x[11] = 2 * x[1] - 0.5 * x[2];
            y[0] = 0.3 + x[0] - x[4] + 0.01 * next();
            y[1] = x[7] * x[8];
            rows.insert(rows.end(), x, x + 12);
            rows.insert(rows.end(), y, y + 2);
        }
        for (size_t chunk : {size_t{1}, size_t{7}, size_t{0}}) {
            for (double ridge : {0.0, 0.5, 1e300}) {
                rcnet::QrSolver solver(12, true, 2);
                if (chunk) solver.SetChunkRows(chunk);
                for (int i = 0; i < 300; ++i) solver.AddRow(&rows[14 * i], &rows[14 * i + 12]);
                for (const Vector& row : solver.Solve(ridge))
                    for (double w : row) qr.Add(w);
            }
        }
        qr.Print("stable.rank.deficient");

        // Wide enough for the threads: chunks folded side by side, the solve's columns shared out.
        Fingerprint threaded;
        std::vector<double> wide;
        for (int i = 0; i < 400 * 121; ++i) wide.push_back(next());
        for (unsigned threads : {1u, 2u, 3u}) {
            for (size_t chunk : {size_t{16}, size_t{0}}) {
                rcnet::QrSolver solver(120, true, 1);
                if (chunk) solver.SetChunkRows(chunk);
                solver.SetThreadCount(threads);
                for (int i = 0; i < 400; ++i) solver.AddRow(&wide[121 * i], &wide[121 * i + 120]);
                for (const Vector& row : solver.Solve(0.0))
                    for (double w : row) threaded.Add(w);
            }
        }
        threaded.Print("stable.threaded");
    }

    // The reservoir settings: the radius by the dense method (one block of 80) and by Arnoldi (800),
    // then scaled, leaky and biased training and propagation.
    for (int neurons : {80, 800}) {
        Randomize(7 + neurons);
        RegisterUsage(4, 1, 1, 1);
        AddNeuronsToNet(4, neurons, 1);
        AddRandomConnectionsToNet(4, neurons * 3);
        AddRandomBackConnectionsToNet(4, neurons * 8);
        InitNetInputMatrix(4, 1);
        Fingerprint settings;
        double radius = 0;
        GetNetSpectralRadius(4, &radius);
        settings.Add(radius);
        const double target = 0.95, scale = 0.7, leak = 0.4;
        SetNetSpectralRadius(4, &target);
        SetNetInputScaling(4, &scale);
        SetNetLeakRate(4, &leak);
        const double bias = 0.3;
        InitNetBias(4, &bias);
        GetNetSpectralRadius(4, &radius);
        settings.Add(radius);
        std::vector<double> inputs, targets;
        for (int p = 0; p < 300; ++p) {
            inputs.push_back((p % 17) * 0.0625 - 0.5);
            targets.push_back(p ? inputs[p - 1] : 0.0);
        }
        AddPatternsToNet(4, 300, 1, inputs.data(), 1, targets.data());
        LearnNet(4);
        for (double w : NetManager::Instance().GetNet(4)->OutputWeights()[0]) settings.Add(w);
        for (int p = 0; p < 50; ++p) {
            double out = 0;
            PropagatePattern(4, 1, &inputs[p], 1, &out);
            settings.Add(out);
        }
        settings.Print(neurons == 80 ? "settings.dense" : "settings.arnoldi");
        UnregisterUsage(4);
    }
    // The radius's other paths: one cycle, a ring whose chords crowd its circle (the dense fallback, and
    // above 1,000 rows giving up), and a larger block with the doubled basis.
    {
        Fingerprint radii;
        const auto add = [&](size_t n, const std::vector<MatrixEntry>& entries) {
            const SpectralRadiusResult r = SpectralRadius(n, entries);
            radii.Add(r.radius);
            radii.Add(r.converged ? 1.0 : 0.0);
        };
        for (const uint32_t n : {5001u, 900u, 3000u}) {
            std::vector<MatrixEntry> ring;
            for (uint32_t i = 0; i < n; ++i)
                ring.push_back({(i + 1) % n, i, n == 5001 ? 0.5 + 0.1 * (i % 7) : 0.9});
            for (uint32_t c = 0; n != 5001 && c < 3; ++c)
                ring.push_back({(c * (n / 3) + n / 3 + 1) % n, c * (n / 3), 0.5});
            add(n, ring);
        }
        std::vector<MatrixEntry> sparse;
        uint64_t state = 4;
        for (uint32_t k = 0; k < 200000; ++k) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            sparse.push_back(
                {uint32_t(state >> 33) % 20000, k % 20000, double((state >> 17) % 65536) / 32767.5 - 1.0});
        }
        add(20000, sparse);
        radii.Print("radius.paths");
    }

    // Sequences: marked training, a run and a closed loop; online learning; a file at exact digits.
    Randomize(31);
    RegisterUsage(5, 1, 1, 1);
    AddNeuronsToNet(5, 80, 1);
    AddRandomConnectionsToNet(5, 240);
    AddRandomBackConnectionsToNet(5, 400);
    InitNetInputMatrix(5, 1);
    SetNetWashout(5, 10);
    std::vector<double> series(400);
    for (int t = 0; t < 400; ++t) series[t] = (t % 23) * 0.04 - 0.45 + (t % 7) * 0.01;
    for (int part = 0; part < 3; ++part) {
        MarkNetSequenceStart(5);
        AddPatternsToNet(5, 99, 1, &series[100 * part], 1, &series[100 * part + 1]);
    }
    LearnNet(5);
    Fingerprint sequences;
    for (double w : NetManager::Instance().GetNet(5)->OutputWeights()[0]) sequences.Add(w);
    std::vector<double> outs(150);
    RunNetSequence(5, 100, 1, &series[300], 1, outs.data());
    GenerateNet(5, 50, 1, outs.data() + 100);
    for (double v : outs) sequences.Add(v);
    sequences.Print("sequences");
    Fingerprint online;
    const double forgetting = 0.99;
    SetNetOnlineLearning(5, &forgetting);
    TrainNetOnline(5, 299, 1, series.data(), 1, series.data() + 1);
    for (double w : NetManager::Instance().GetNet(5)->OutputWeights()[0]) online.Add(w);
    online.Print("online");
    if (savePath) {
        const std::string exactPath = std::string(savePath) + ".exact";
        SetNetFilePrecision(5, 0);
        if (!SaveNetToFile(5, exactPath.c_str())) return 1;
        std::FILE* file = std::fopen(exactPath.c_str(), "rb");
        Fingerprint bytes;
        for (int c; file && (c = std::fgetc(file)) != EOF;)
            if (c != '\r') bytes.Add(c);
        if (file) std::fclose(file);
        std::remove(exactPath.c_str());
        bytes.Print("file.exact.bytes");
    }
    UnregisterUsage(5);
    return 0;
}
