/* NARMA10 with both readouts: a host that loads the library at run time, builds one reservoir per seed
 * twice, and trains it once with normal equations (method 0) and once with the stable QR least squares
 * (method 1).
 *
 * The task: y(t+1) = 0.3 y(t) + 0.05 y(t) (y(t) + ... + y(t-9)) + 1.5 u(t-9) u(t) + 0.1, with inputs u
 * uniform in [0, 0.5]. The network sees u(t) and predicts y(t+1). 200 washout steps, 2000 training
 * steps, 2000 test steps right after them; NMSE = mean squared error / variance of the test targets.
 * Reservoir: half bipolar-sigmoid and half sigmoid neurons, 5 forward and 14 back links per neuron, the
 * back links scaled to spectral radius 2.6, input scaling 0.03, leak rate 0.9, threshold on. The small
 * input keeps the neurons near their working points, where the states follow the inputs closely enough
 * for ten steps of memory; the curvature still there gives the readout the products the task needs.
 *
 * Usage: narma10 [--library PATH] [--seed S] [--seeds K] [--neurons N ...] [--radius R]
 *                [--input-scaling S] [--leak-rate A] [--check]
 * --check: exit 1 unless the stable readout's median NMSE is at most 0.035 at 100 neurons and 0.01 at
 * 400 (the default sizes; the tests use it). The figures are the same on every run and on both targets. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rcnet_loader.h"

#ifdef _WIN32
#define DEFAULT_LIBRARY "rcnet.dll"
#else
#define DEFAULT_LIBRARY "./librcnet.so"
#endif

enum { kWashout = 200, kTrain = 2000, kTest = 2000, kSteps = kWashout + kTrain + kTest + 1, kMaxSeeds = 64 };

/* Uniform in [0, 0.5] from a linear congruential sequence of the host's own: the same on every platform. */
static double Uniform(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return (*state >> 8) / 16777216.0 * 0.5;
}

static void Narma10(uint32_t seed, double* u, double* y) {
    uint32_t state = seed * 2654435761u + 1;
    for (int t = 0; t < kSteps; ++t) {
        u[t] = Uniform(&state);
        y[t] = 0;
    }
    for (int t = 9; t + 1 < kSteps; ++t) {
        double sum = 0;
        for (int i = 0; i < 10; ++i) sum += y[t - i];
        y[t + 1] = 0.3 * y[t] + 0.05 * y[t] * sum + 1.5 * u[t - 9] * u[t] + 0.1;
    }
}

static int CompareDoubles(const void* a, const void* b) {
    const double x = *(const double*)a, z = *(const double*)b;
    return (x > z) - (x < z);
}

static double Median(double* values, unsigned n) {
    qsort(values, n, sizeof values[0], CompareDoubles);
    return values[n / 2];
}

typedef struct {
    double radius, inputScaling, leakRate;
} Settings;

/* Builds, trains with one method and tests; returns the test NMSE, or a negative value on failure. */
static double Run(RcnetApi* rc, unsigned seed, int neurons, int method, const Settings* settings,
                  const double* u, const double* y) {
    static double targets[kWashout + kTrain];
    const int id = 1, count = kWashout + kTrain, bisigmoid = neurons / 2;
    for (int t = 0; t < count; ++t) targets[t] = y[t + 1];
    rc->Randomize(seed);
    int ok = rc->RegisterUsage(id, 1, 1, 1) && rc->AddNeuronsToNet(id, bisigmoid, 1) &&
             rc->AddNeuronsToNet(id, neurons - bisigmoid, 0) &&
             rc->AddRandomConnectionsToNet(id, neurons * 5) &&
             rc->AddRandomBackConnectionsToNet(id, neurons * 14) &&
             rc->SetNetSpectralRadius(id, &settings->radius) && rc->InitNetInputMatrix(id, 1) &&
             rc->SetNetInputScaling(id, &settings->inputScaling) &&
             rc->SetNetLeakRate(id, &settings->leakRate) &&
             rc->AddPatternsToNet(id, count, 1, u, 1, targets) && rc->SetNetReadoutSolver(id, method) &&
             rc->SetNetWashout(id, kWashout) && rc->LearnNet(id);
    double se = 0, sum = 0, sumSq = 0;
    for (int t = count; ok && t < count + kTest; ++t) {
        double out;
        ok = rc->PropagatePattern(id, 1, &u[t], 1, &out);
        se += (out - y[t + 1]) * (out - y[t + 1]);
        sum += y[t + 1];
        sumSq += y[t + 1] * y[t + 1];
    }
    rc->UnregisterUsage(id);
    if (!ok) return -1;
    const double mean = sum / kTest;
    return (se / kTest) / (sumSq / kTest - mean * mean);
}

int main(int argc, char** argv) {
    const char* library = DEFAULT_LIBRARY;
    unsigned seed = 1, seeds = 5;
    int sizes[8] = {100, 400}, sizeCount = 0, check = 0;
    Settings settings = {2.6, 0.03, 0.9};
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(argv[i], "--check")) {
            check = 1;
            continue;
        }
        if (value && !strcmp(argv[i], "--library"))
            library = value;
        else if (value && !strcmp(argv[i], "--seed"))
            seed = (unsigned)atoi(value);
        else if (value && !strcmp(argv[i], "--seeds"))
            seeds = (unsigned)atoi(value);
        else if (value && !strcmp(argv[i], "--neurons") && sizeCount < 8)
            sizes[sizeCount++] = atoi(value);
        else if (value && !strcmp(argv[i], "--radius"))
            settings.radius = atof(value);
        else if (value && !strcmp(argv[i], "--input-scaling"))
            settings.inputScaling = atof(value);
        else if (value && !strcmp(argv[i], "--leak-rate"))
            settings.leakRate = atof(value);
        else {
            fprintf(stderr, "usage: narma10 [--library PATH] [--seed S] [--seeds K] [--neurons N ...] "
                            "[--radius R] [--input-scaling S] [--leak-rate A] [--check]\n");
            return 2;
        }
        ++i;
    }
    if (sizeCount == 0) sizeCount = 2;
    if (seeds < 1 || seeds > kMaxSeeds) seeds = seeds < 1 ? 1 : kMaxSeeds;
    RcnetApi rc;
    if (!rcnet_load(&rc, library)) {
        fprintf(stderr, "narma10: %s\n", rc.error);
        return 1;
    }
    static double u[kSteps], y[kSteps];
    int failed = 0;
    printf("NARMA10: %d washout, %d training, %d test steps; NMSE of the test, normal equations vs stable\n",
           kWashout, kTrain, kTest);
    printf("reservoir: half bipolar-sigmoid, half sigmoid neurons, 5 forward and 14 back links per neuron,\n"
           "spectral radius %g, input scaling %g, leak rate %g\n",
           settings.radius, settings.inputScaling, settings.leakRate);
    for (int k = 0; k < sizeCount; ++k) {
        double normal[kMaxSeeds], stable[kMaxSeeds];
        for (unsigned s = 0; s < seeds; ++s) {
            Narma10(seed + s, u, y);
            normal[s] = Run(&rc, seed + s, sizes[k], 0, &settings, u, y);
            stable[s] = Run(&rc, seed + s, sizes[k], 1, &settings, u, y);
            if (normal[s] < 0 || stable[s] < 0) {
                fprintf(stderr, "narma10: building or training failed\n");
                return 1;
            }
            printf("%d neurons, seed %u: NMSE %.3g vs %.3g\n", sizes[k], seed + s, normal[s], stable[s]);
        }
        const double a = Median(normal, seeds), b = Median(stable, seeds);
        printf("%d neurons, median of %u seeds: NMSE %.3g (normal equations) vs %.3g (stable)\n", sizes[k],
               seeds, a, b);
        const double bound = sizes[k] == 100 ? 0.035 : sizes[k] == 400 ? 0.01 : 1e300;
        if (check && b > bound) {
            fprintf(stderr, "narma10: the stable readout's median NMSE %.3g at %d neurons is above %g\n", b,
                    sizes[k], bound);
            failed = 1;
        }
    }
    rcnet_unload(&rc);
    return failed;
}
