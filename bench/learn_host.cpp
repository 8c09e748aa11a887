/* Times LearnNet on workload W through the library loaded at run time, as a host does: the same program
 * for the native library and for the 32-bit DLL under wine. W: 1000 neurons of type 1, 10,000 forward
 * and 10,000 back links, 10 inputs, 10,000 patterns, 1 output, threshold on (N and P can be changed).
 * The readout method (SetNetReadoutSolver) is 0, the normal equations, unless given.
 * Prints one line per run and a summary line:
 *   LEARN_HOST neurons=1000 patterns=10000 method=0 runs=5 median_ms=... min_ms=... max_ms=... checksum=...
 * Usage: learn_host LIBRARY [runs] [neurons] [patterns] [method] */
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "rcnet_loader.h"

static double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

/* Inputs and targets from a fixed generator (the C libraries' sin() differ in the last bit), so that
 * the checksum can be compared between the native library and the DLL. */
static double Draw(unsigned long long* state) {
    *state = *state * 6364136223846793005ull + 1442695040888963407ull;
    return (double)(*state >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

static int Compare(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
    RcnetApi rc;
    const int runs = argc > 2 ? atoi(argv[2]) : 5;
    const int neurons = argc > 3 ? atoi(argv[3]) : 1000;
    const int patterns = argc > 4 ? atoi(argv[4]) : 10000;
    const int method = argc > 5 ? atoi(argv[5]) : 0;
    double *inputs, *targets, *times, out = 0.0, checksum = 0.0;
    unsigned long long state = 1;
    int p, i, r;
    if (argc < 2 || runs < 1 || neurons < 1 || patterns < 1) {
        fprintf(stderr, "usage: learn_host LIBRARY [runs] [neurons] [patterns] [method]\n");
        return 2;
    }
    if (!rcnet_load(&rc, argv[1])) {
        printf("FAILED: %s\n", rc.error);
        return 1;
    }
    inputs = static_cast<double*>(malloc(sizeof(double) * (size_t)patterns * 10));
    targets = static_cast<double*>(malloc(sizeof(double) * (size_t)patterns));
    times = static_cast<double*>(malloc(sizeof(double) * (size_t)runs));
    if (!inputs || !targets || !times) return 1;
    for (p = 0; p < patterns; ++p) {
        for (i = 0; i < 10; ++i) inputs[p * 10 + i] = Draw(&state);
        targets[p] = Draw(&state);
    }
    rc.Randomize(1);
    if (!rc.RegisterUsage(1, 10, 1, 1) || !rc.AddNeuronsToNet(1, neurons, 1) ||
        !rc.AddRandomConnectionsToNet(1, neurons * 10) ||
        !rc.AddRandomBackConnectionsToNet(1, neurons * 10) || !rc.InitNetInputMatrix(1, 10) ||
        !rc.AddPatternsToNet(1, patterns, 10, inputs, 1, targets) || !rc.SetNetReadoutSolver(1, method)) {
        printf("FAILED: building the network\n");
        return 1;
    }
    for (r = 0; r < runs; ++r) {
        const double start = NowMs();
        if (!rc.LearnNet(1)) {
            printf("FAILED: LearnNet\n");
            return 1;
        }
        times[r] = NowMs() - start;
        printf("run %d: %.1f ms\n", r + 1, times[r]);
        /* Each run continues the reservoir's state: the same work, other numbers. */
        rc.PropagatePattern(1, 10, inputs, 1, &out);
        checksum += out;
    }
    qsort(times, (size_t)runs, sizeof(double), Compare);
    printf(
        "LEARN_HOST neurons=%d patterns=%d method=%d runs=%d median_ms=%.1f min_ms=%.1f max_ms=%.1f "
        "checksum=%.17g\n",
        neurons, patterns, method, runs,
        runs % 2 ? times[runs / 2] : 0.5 * (times[runs / 2 - 1] + times[runs / 2]), times[0], times[runs - 1],
        checksum);
    rc.UnregisterUsage(1);
    rcnet_unload(&rc);
    free(inputs);
    free(targets);
    free(times);
    return 0;
}
