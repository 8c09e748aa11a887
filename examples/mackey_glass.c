/* The main demo: what a real host does, through the exports only, with the library loaded at run time.
 *
 * 1. Generates the Mackey-Glass series (tau = 17): dx/dt = 0.2 x(t-17) / (1 + x(t-17)^10) - 0.1 x(t),
 *    Euler steps of 0.1, one sample every 10 steps (one per time unit), x = 1.2 before t = 0, the first
 *    1000 samples dropped. The network sees y = tanh(x - 1) through an input matrix scaled by 3.5
 *    (SetNetInputScaling), and predicts the next y: its output can be its next input.
 * 2. Writes the training patterns (input y(t) plus uniform noise of +-1e-4 / 3.5, target y(t+1)) as a
 *    pattern file, builds a reservoir, trains with AddPatternsFromFile + LearnNet.
 * 3. Predicts a test segment one step ahead (teacher-forced, RunNetSequence), then 84 steps in free run,
 *    each output fed back as the next input (GenerateNet). Errors are measured on the original scale x,
 *    as NRMSE: root mean square error over the standard deviation of x in the test segment.
 * 4. Saves the network, loads it into two other ids, runs the same test on both, one with a
 *    PropagatePattern call per step and the outputs fed back by hand, the other with RunNetSequence and
 *    GenerateNet, and shows that they predict identically.
 * 5. Both readouts side by side (unless --no-compare): a tuned reservoir (5 back links per neuron scaled
 *    to spectral radius 0.8, leak rate 0.8) that sees y(t), y(t-5), y(t-10), y(t-15) and a constant
 *    0.25 through an input matrix scaled by 2, trained with normal equations and with the stable QR
 *    least squares (SetNetReadoutSolver), the warm-up as washout (SetNetWashout). Each free run is
 *    taken twice from the same state (GetNetState, SetNetState): fed back by hand, and in one
 *    GenerateNetMapped call with a feedback map; the two must be identical.
 *
 * Usage: mackey_glass [--library PATH] [--dir DIR] [--seed S] [--seeds K] [--neurons N] [--no-compare]
 *                     [--radius R] [--input-scaling S] [--leak-rate A] [--check]
 * --radius, --input-scaling, --leak-rate: the tuned reservoir's settings in part 5 (0.8, 2, 0.8).
 * --check: exit 1 unless the median one-step NRMSE is below 5e-4 and the median free-run NRMSE below
 * 0.05, and the stable readout's medians at most 1e-5 (one step) and 1e-4 (free run); the tests use it.
 * The numbers it prints are the same on every run and on both targets: the series is computed with
 * plain arithmetic only (no C library exp or tanh, whose last bits differ between platforms). */
#include <math.h>
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

enum { kDrop = 1000, kWarmup = 1000, kTrain = 2000, kTest = 500, kFree = 84 };
enum { kSamples = kDrop + kWarmup + kTrain + kTest + kFree + 2 };

/* e^z from plain IEEE arithmetic: z = k ln2 + r, |r| <= ln2/2, a Taylor series for e^r, then 2^k. */
static double PlainExp(double z) {
    const double ln2hi = 6.93147180369123816490e-01, ln2lo = 1.90821492927058770002e-10;
    double k = floor(z / 0.6931471805599453 + 0.5);
    double r = (z - k * ln2hi) - k * ln2lo;
    double term = 1.0, sum = 1.0;
    for (int i = 1; i <= 20; ++i) {
        term = term * r / i;
        sum = sum + term;
    }
    return ldexp(sum, (int)k);
}

static double PlainTanh(double z) {
    if (z > 20) return 1.0;
    if (z < -20) return -1.0;
    const double e = PlainExp(2 * z);
    return (e - 1) / (e + 1);
}

/* atanh(y) = 0.5 log((1 + y) / (1 - y)), with log from Newton steps on PlainExp. */
static double PlainLog(double v) {
    int e;
    const double m = frexp(v, &e); /* v = m 2^e, m in [0.5, 1) */
    double guess = (m - 1) - 0.5 * (m - 1) * (m - 1);
    for (int i = 0; i < 6; ++i) guess = guess - 1 + m / PlainExp(guess);
    return guess + e * 0.6931471805599453;
}
static double PlainAtanh(double y) {
    if (y >= 1) y = 1 - 1e-16;
    if (y <= -1) y = -1 + 1e-16;
    return 0.5 * PlainLog((1 + y) / (1 - y));
}

static void MackeyGlass(double* x) {
    enum { kSub = 10, kDelay = 170 };
    const long steps = (long)kSamples * kSub;
    double* fine = malloc(sizeof(double) * (steps + kDelay + 1));
    for (int i = 0; i <= kDelay; ++i) fine[i] = 1.2;
    for (long i = kDelay; i < steps + kDelay; ++i) {
        const double lag = fine[i - kDelay];
        const double lag2 = lag * lag, lag4 = lag2 * lag2, lag8 = lag4 * lag4;
        fine[i + 1] = fine[i] + 0.1 * (0.2 * lag / (1 + lag8 * lag2) - 0.1 * fine[i]);
    }
    for (int t = 0; t < kSamples; ++t) x[t] = fine[kDelay + (long)t * kSub];
    free(fine);
}

/* Uniform noise in [-1e-4, 1e-4] from a fixed linear congruential sequence. */
static double Noise(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return ((*state >> 8) / 16777215.0 * 2 - 1) * 1e-4;
}

typedef struct {
    double oneStep, freeRun;
} Figures;

static int CompareDoubles(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* How a network sees the series: input scale * y(t), then the same for each delayed value y(t - d), then
 * a constant input if bias is not 0. */
typedef struct {
    double scale;
    int delays[3];
    int delayCount;
    double bias;
} Inputs;

/* Parts 1 to 4: the network sees y itself (its input matrix scaled by 3.5) and predicts the next y, so
 * its output can be its next input (GenerateNet). */
static const Inputs kPlainInputs = {1.0, {0}, 0, 0};
static const double kInputScale = 3.5;

static int InputCount(const Inputs* in) {
    return 1 + in->delayCount + (in->bias != 0);
}

static void InputsAt(const Inputs* in, const double* series, int t, double* out) {
    out[0] = in->scale * series[t];
    for (int d = 0; d < in->delayCount; ++d) out[1 + d] = in->scale * series[t - in->delays[d]];
    if (in->bias != 0) out[1 + in->delayCount] = in->bias;
}

/* The tuned reservoir's settings (part 5). */
typedef struct {
    double radius, inputScaling, leakRate;
} Settings;

/* Warm-up, one-step test and free run on a trained network; x and y are the whole series. In the free
 * run every output becomes the next y, delayed inputs included. One call per step (PropagatePattern), or,
 * with sequenceCalls, whole stretches in one call each, the same bits: the warm-up and the test with
 * RunNetSequence, then a network whose output is its next input runs the free run's first step (fed the
 * true y) with them and the rest with GenerateNet; one with delayed inputs and a constant runs the free
 * run with GenerateNetMapped, its feedback map sending the output to y(t) one step later and to each
 * y(t - d) d + 1 steps later. trace, when given, receives the outputs of the test and the free run. */
static int Evaluate(RcnetApi* rc, int id, const double* x, const double* y, const Inputs* setup, int warmFrom,
                    int sequenceCalls, Figures* f, double* trace) {
    static double z[kSamples], ins[kSamples * 5], outs[kSamples];
    const int testFrom = kDrop + kWarmup + kTrain, inputs = InputCount(setup);
    double out, in[5], sum = 0, sumSq = 0, se = 0;
    memcpy(z, y, sizeof z);
    for (int t = testFrom; t < testFrom + kTest; ++t) {
        sum += x[t + 1];
        sumSq += x[t + 1] * x[t + 1];
    }
    const double mean = sum / kTest, sd = sqrt(sumSq / kTest - mean * mean);
    if (sequenceCalls && inputs == 1) {
        const int steps = testFrom + kTest + 1 - warmFrom; /* warm-up, test, the free run's first step */
        for (int t = warmFrom; t < warmFrom + steps; ++t)
            InputsAt(setup, z, t, &ins[(t - warmFrom) * inputs]);
        if (!rc->RunNetSequence(id, steps, inputs, ins, 1, outs) ||
            !rc->GenerateNet(id, kFree - 1, 1, outs + steps))
            return 0;
    } else if (sequenceCalls) {
        /* The free run's rows hold the true past; the map overwrites what the loop has predicted. */
        const int steps = testFrom + kTest - warmFrom;
        int map[3 * 4] = {0, 0, 1};
        for (int d = 0; d < setup->delayCount; ++d) {
            map[3 * (d + 1)] = 1 + d;
            map[3 * (d + 1) + 1] = 0;
            map[3 * (d + 1) + 2] = setup->delays[d] + 1;
        }
        for (int t = warmFrom; t < warmFrom + steps + kFree; ++t)
            InputsAt(setup, z, t, &ins[(t - warmFrom) * inputs]);
        if (!rc->RunNetSequence(id, steps, inputs, ins, 1, outs) ||
            !rc->GenerateNetMapped(id, kFree, 1 + setup->delayCount, map, inputs, ins + steps * inputs, 1,
                                   outs + steps))
            return 0;
    }
    for (int t = warmFrom; t < testFrom; ++t) {
        InputsAt(setup, z, t, in);
        if (!sequenceCalls && !rc->PropagatePattern(id, inputs, in, 1, &out)) return 0;
    }
    for (int t = testFrom; t < testFrom + kTest; ++t) {
        InputsAt(setup, z, t, in);
        if (sequenceCalls) {
            out = outs[t - warmFrom];
        } else if (!rc->PropagatePattern(id, inputs, in, 1, &out)) {
            return 0;
        }
        const double err = 1 + PlainAtanh(out) - x[t + 1];
        se += err * err;
        if (trace) trace[t - testFrom] = out;
    }
    f->oneStep = sqrt(se / kTest) / sd;
    se = 0;
    for (int k = 0; k < kFree; ++k) {
        const int t = testFrom + kTest + k;
        InputsAt(setup, z, t, in);
        if (sequenceCalls) {
            out = outs[t - warmFrom];
        } else if (!rc->PropagatePattern(id, inputs, in, 1, &out)) {
            return 0;
        }
        const double err = 1 + PlainAtanh(out) - x[t + 1];
        se += err * err;
        if (trace) trace[kTest + k] = out;
        z[t + 1] = out;
    }
    f->freeRun = sqrt(se / kFree) / sd;
    return 1;
}

static double Median(double* values, unsigned n) {
    qsort(values, n, sizeof values[0], CompareDoubles);
    return values[n / 2];
}

/* Both readouts side by side on one reservoir setup: for each seed the same reservoir is built twice
 * and trained once with normal equations (method 0), once with the stable QR least squares (method 1),
 * with the warm-up as washout (stepped, not fitted). Fills the medians of the stable readout. */
static int CompareReadouts(RcnetApi* rc, const double* x, const double* y, unsigned seed, unsigned seeds,
                           int neurons, const Settings* settings, Figures* stableMedian) {
    /* Delayed inputs give the readout the series' recent shape; the constant input moves each neuron
     * off the centre of its curve, so the states hold even powers of the inputs too; a little input
     * noise keeps free runs stable. */
    const Inputs setup = {1.0, {5, 10, 15}, 3, 0.25};
    const int inputs = InputCount(&setup), count = kWarmup + kTrain;
    double* ins = malloc(sizeof(double) * (size_t)count * (size_t)inputs);
    double* targets = malloc(sizeof(double) * (size_t)count);
    if (!ins || !targets) return 0;
    uint32_t noise = 4242;
    for (int p = 0; p < count; ++p) {
        const int t = kDrop + p;
        InputsAt(&setup, y, t, ins + (size_t)p * inputs);
        ins[(size_t)p * inputs] += Noise(&noise) * 0.015;
        targets[p] = y[t + 1];
    }
    printf("\nboth readouts on one reservoir: %d neurons of type 1, %d forward and %d back links, spectral\n",
           neurons, neurons * 53 / 10, neurons * 5);
    printf(
        "radius %g, leak rate %g; inputs y(t), y(t-5), y(t-10), y(t-15) (noise +-1.5e-6) and 0.25, input\n",
        settings->radius, settings->leakRate);
    printf("scaling %g; the first %d patterns are washout\n", settings->inputScaling, kWarmup);
    Figures normal[64], stable[64], mapped;
    const unsigned n = seeds < 64 ? seeds : 64;
    double* state = malloc(sizeof(double) * (size_t)neurons);
    static double byHand[kTest + kFree], inOneCall[kTest + kFree];
    int ok = state != NULL, same = 1;
    for (unsigned s = 0; s < n && ok; ++s) {
        for (int method = 0; method < 2 && ok; ++method) {
            const int id = 10 + method;
            rc->Randomize(seed + s);
            ok = rc->RegisterUsage(id, inputs, 1, 1) && rc->AddNeuronsToNet(id, neurons, 1) &&
                 rc->AddRandomConnectionsToNet(id, neurons * 53 / 10) &&
                 rc->AddRandomBackConnectionsToNet(id, neurons * 5) &&
                 rc->SetNetSpectralRadius(id, &settings->radius) && rc->InitNetInputMatrix(id, inputs) &&
                 rc->SetNetInputScaling(id, &settings->inputScaling) &&
                 rc->SetNetLeakRate(id, &settings->leakRate) &&
                 rc->AddPatternsToNet(id, count, inputs, ins, 1, targets) &&
                 rc->SetNetReadoutSolver(id, method) && rc->SetNetWashout(id, kWarmup) && rc->LearnNet(id) &&
                 rc->GetNetState(id, neurons, state) &&
                 Evaluate(rc, id, x, y, &setup, kDrop + kWarmup + kTrain, 0, method ? &stable[s] : &normal[s],
                          byHand) &&
                 rc->SetNetState(id, neurons, state) &&
                 Evaluate(rc, id, x, y, &setup, kDrop + kWarmup + kTrain, 1, &mapped, inOneCall);
            /* The free run in one GenerateNetMapped call against the loop fed back by hand. */
            same = same && (!ok || memcmp(byHand, inOneCall, sizeof byHand) == 0);
            rc->UnregisterUsage(id);
        }
        if (ok)
            printf(
                "seed %u: one-step NRMSE %.3g (normal equations) vs %.3g (stable); free run %.3g vs %.3g\n",
                seed + s, normal[s].oneStep, stable[s].oneStep, normal[s].freeRun, stable[s].freeRun);
    }
    free(ins);
    free(targets);
    free(state);
    if (!ok) {
        fprintf(stderr, "mackey_glass: building or training for the readout comparison failed\n");
        return 0;
    }
    printf(
        "free runs fed back by hand and in one GenerateNetMapped call (taps at delays 1, 6, 11, 16; the\n"
        "constant from the host): %s\n",
        same ? "identical" : "DIFFERENT");
    if (!same) return 0;
    double a[64], b[64], c[64], d[64];
    for (unsigned s = 0; s < n; ++s) {
        a[s] = normal[s].oneStep;
        b[s] = stable[s].oneStep;
        c[s] = normal[s].freeRun;
        d[s] = stable[s].freeRun;
    }
    stableMedian->oneStep = Median(b, n);
    stableMedian->freeRun = Median(d, n);
    printf("median of %u seeds: one-step NRMSE %.3g vs %.3g, free-run NRMSE %.3g vs %.3g\n", n, Median(a, n),
           stableMedian->oneStep, Median(c, n), stableMedian->freeRun);
    return 1;
}

int main(int argc, char** argv) {
    const char* library = DEFAULT_LIBRARY;
    const char* dir = ".";
    unsigned seed = 1, seeds = 1;
    int neurons = 400, verbose = 1, check = 0, compare = 1;
    Settings settings = {0.8, 2.0, 0.8};
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(argv[i], "--check")) {
            check = 1;
            continue;
        }
        if (!strcmp(argv[i], "--no-compare")) {
            compare = 0;
            continue;
        }
        if (value && !strcmp(argv[i], "--library"))
            library = value;
        else if (value && !strcmp(argv[i], "--dir"))
            dir = value;
        else if (value && !strcmp(argv[i], "--seed"))
            seed = (unsigned)atoi(value);
        else if (value && !strcmp(argv[i], "--seeds"))
            seeds = (unsigned)atoi(value);
        else if (value && !strcmp(argv[i], "--neurons"))
            neurons = atoi(value);
        else if (value && !strcmp(argv[i], "--radius"))
            settings.radius = atof(value);
        else if (value && !strcmp(argv[i], "--input-scaling"))
            settings.inputScaling = atof(value);
        else if (value && !strcmp(argv[i], "--leak-rate"))
            settings.leakRate = atof(value);
        else {
            fprintf(stderr,
                    "usage: mackey_glass [--library PATH] [--dir DIR] [--seed S] [--seeds K] [--neurons N] "
                    "[--no-compare] [--radius R] [--input-scaling S] [--leak-rate A] [--check]\n");
            return 2;
        }
        ++i;
    }
    RcnetApi rc;
    if (!rcnet_load(&rc, library)) {
        fprintf(stderr, "mackey_glass: %s\n", rc.error);
        return 1;
    }

    static double x[kSamples], y[kSamples];
    MackeyGlass(x);
    for (int t = 0; t < kSamples; ++t) y[t] = PlainTanh(x[t] - 1);

    char patterns[1024], network[1024], trace[1024], series[1024];
    snprintf(series, sizeof series, "%s/mackey_glass_series.csv", dir);
    snprintf(patterns, sizeof patterns, "%s/mackey_glass.patterns", dir);
    snprintf(network, sizeof network, "%s/mackey_glass.net", dir);
    snprintf(trace, sizeof trace, "%s/mackey_glass.csv", dir);

    FILE* all = fopen(series, "w");
    if (all) {
        fprintf(all, "t,x,y\n");
        for (int t = 0; t < kSamples; ++t) fprintf(all, "%d,%.17g,%.17g\n", t - kDrop, x[t], y[t]);
        fclose(all);
    }

    /* The pattern file: the warm-up samples first (training continues the reservoir's run, so they
     * bring it into its regime), then the training samples. */
    const int first = kDrop, count = kWarmup + kTrain;
    FILE* file = fopen(patterns, "w");
    if (!file) {
        fprintf(stderr, "mackey_glass: cannot write %s\n", patterns);
        return 1;
    }
    uint32_t noise = 12345;
    fprintf(file, "1 1 %d\n", count);
    for (int t = first; t < first + count; ++t)
        fprintf(file, "%.17g %.17g\n", y[t] + Noise(&noise) / 3.5, y[t + 1]);
    fclose(file);

    if (verbose) {
        printf(
            "Mackey-Glass, tau 17: Euler step 0.1, one sample per time unit, y = tanh(x - 1), input y, "
            "input matrix scaled by 3.5\n");
        printf("reservoir: %d neurons of type 1, %d forward and %d back links, threshold on\n", neurons,
               neurons * 53 / 10, neurons * 118 / 10);
        printf("training: %d patterns from %s (the first %d bring the reservoir into its regime)\n", count,
               patterns, kWarmup);
        printf("NRMSE = RMS error on x / standard deviation of x over the %d-step test segment\n\n", kTest);
    }
    Figures results[64];
    double predicted[kTest + kFree], reloaded[kTest + kFree];
    for (unsigned s = 0; s < seeds && s < 64; ++s) {
        const int id = 1;
        rc.Randomize(seed + s);
        if (!rc.RegisterUsage(id, 1, 1, 1) || !rc.AddNeuronsToNet(id, neurons, 1) ||
            !rc.AddRandomConnectionsToNet(id, neurons * 53 / 10) ||
            !rc.AddRandomBackConnectionsToNet(id, neurons * 118 / 10) || !rc.InitNetInputMatrix(id, 1) ||
            !rc.SetNetInputScaling(id, &kInputScale) || !rc.AddPatternsFromFile(id, patterns) ||
            !rc.LearnNet(id)) {
            fprintf(stderr, "mackey_glass: building or training failed\n");
            return 1;
        }
        /* The reservoir has just run through the training data: the test follows on directly. */
        if (!Evaluate(&rc, id, x, y, &kPlainInputs, kDrop + kWarmup + kTrain, 1, &results[s],
                      s == 0 ? predicted : NULL))
            return 1;
        printf("seed %u: one-step NRMSE %.3g, %d-step free-run NRMSE %.3g\n", seed + s, results[s].oneStep,
               kFree, results[s].freeRun);
        if (s == 0) {
            if (!rc.SaveNetToFile(id, network)) {
                fprintf(stderr, "mackey_glass: cannot save %s\n", network);
                return 1;
            }
        }
        rc.UnregisterUsage(id);
    }

    /* Reload: the file keeps 6 significant digits and the reloaded reservoir starts from rest, so it is
     * warmed up on the last 1000 samples before the test. Two loads of one file predict identically, the
     * one step by step and fed back by hand, the other through RunNetSequence and GenerateNet. */
    Figures a, b;
    if (!rc.RegisterUsage(2, 1, 1, 1) || !rc.RegisterUsage(3, 1, 1, 1) || !rc.LoadNetFromFile(2, network) ||
        !rc.LoadNetFromFile(3, network) ||
        !Evaluate(&rc, 2, x, y, &kPlainInputs, kDrop + kTrain, 0, &a, reloaded) ||
        !Evaluate(&rc, 3, x, y, &kPlainInputs, kDrop + kTrain, 1, &b, NULL)) {
        fprintf(stderr, "mackey_glass: reloading %s failed\n", network);
        return 1;
    }
    printf("\nsaved %s; reloaded twice, warmed up on the last %d samples before the test:\n", network,
           kWarmup);
    printf(
        "reloaded: one-step NRMSE %.3g, free-run NRMSE %.3g (%s in both loads: step by step, and "
        "RunNetSequence + GenerateNet)\n",
        a.oneStep, a.freeRun, a.oneStep == b.oneStep && a.freeRun == b.freeRun ? "identical" : "DIFFERENT");
    /* The trace: the trained network's predictions and the reloaded one's, which a plot of the file
     * must show on top of each other, and the reloaded network's outputs whole (another host that loads
     * the file must get these bits). */
    FILE* csv = fopen(trace, "w");
    if (csv) {
        fprintf(csv, "t,target,prediction,reloaded,reloaded_output,mode\n");
        for (int k = 0; k < kTest + kFree; ++k)
            fprintf(csv, "%d,%.9g,%.9g,%.9g,%.17g,%s\n", kWarmup + kTrain + k + 1,
                    x[kDrop + kWarmup + kTrain + k + 1], 1 + PlainAtanh(predicted[k]),
                    1 + PlainAtanh(reloaded[k]), reloaded[k], k < kTest ? "one-step" : "free-run");
        fclose(csv);
    }
    printf("trace of seed %u: %s\n", seed, trace);
    if (a.oneStep != b.oneStep || a.freeRun != b.freeRun) return 1;

    const unsigned n = seeds < 64 ? seeds : 64;
    double one[64], freeRun[64];
    for (unsigned s = 0; s < n; ++s) {
        one[s] = results[s].oneStep;
        freeRun[s] = results[s].freeRun;
    }
    const double oneMedian = Median(one, n), freeMedian = Median(freeRun, n);
    if (n > 1)
        printf("median of %u seeds: one-step NRMSE %.3g, free-run NRMSE %.3g\n", n, oneMedian, freeMedian);

    Figures stable = {0, 0};
    if (compare && !CompareReadouts(&rc, x, y, seed, seeds, neurons, &settings, &stable)) return 1;
    rcnet_unload(&rc);
    if (check && !(oneMedian < 5e-4 && freeMedian < 0.05)) {
        fprintf(stderr, "mackey_glass: the median errors miss 5e-4 (one step) or 0.05 (free run)\n");
        return 1;
    }
    if (check && compare && !(stable.oneStep <= 1e-5 && stable.freeRun <= 1e-4)) {
        fprintf(stderr,
                "mackey_glass: the stable readout's medians miss 1e-5 (one step) or 1e-4 (free run)\n");
        return 1;
    }
    return 0;
}
