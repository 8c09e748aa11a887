/* Peak resident memory of training: a network of N neurons of type 1 (10 N forward and 10 N back links,
 * 1 input, 1 output, threshold on) given P patterns, added in pieces so that the host's own buffers stay
 * small. Prints the resident and peak memory of the empty process (library loaded), after the patterns
 * are stored, and at the peak of LearnNet (on Linux the peak is restarted before it), in MiB:
 *   MEMORY_HOST neurons=200 patterns=1000000 empty_mib=... stored_mib=... peak_mib=... learn_extra_mib=...
 * learn_extra is the peak over what the stored patterns already held. Usage: memory_host LIBRARY [N] [P] */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "rcnet_loader.h"

#ifdef _WIN32
#include <psapi.h>
#endif

/* Resident and peak resident memory in MiB. */
static void Memory(double* resident, double* peak) {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters;
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    *resident = counters.WorkingSetSize / 1048576.0;
    *peak = counters.PeakWorkingSetSize / 1048576.0;
#else
    char line[256];
    FILE* status = fopen("/proc/self/status", "r");
    *resident = *peak = -1;
    if (!status) return;
    while (fgets(line, sizeof line, status)) {
        long kib;
        if (sscanf(line, "VmRSS: %ld kB", &kib) == 1) *resident = kib / 1024.0;
        if (sscanf(line, "VmHWM: %ld kB", &kib) == 1) *peak = kib / 1024.0;
    }
    fclose(status);
#endif
}

int main(int argc, char** argv) {
    enum { kPiece = 10000 };
    RcnetApi rc;
    const int neurons = argc > 2 ? atoi(argv[2]) : 200;
    const int patterns = argc > 3 ? atoi(argv[3]) : 1000000;
    double inputs[kPiece], targets[kPiece];
    double emptyResident, emptyPeak, storedResident, storedPeak, resident, peak;
    int first;
    if (argc < 2 || neurons < 1 || patterns < 1) {
        fprintf(stderr, "usage: memory_host LIBRARY [neurons] [patterns]\n");
        return 2;
    }
    if (!rcnet_load(&rc, argv[1])) {
        printf("FAILED: %s\n", rc.error);
        return 1;
    }
    rc.Randomize(1);
    if (!rc.RegisterUsage(1, 1, 1, 1) || !rc.AddNeuronsToNet(1, neurons, 1) ||
        !rc.AddRandomConnectionsToNet(1, neurons * 10) ||
        !rc.AddRandomBackConnectionsToNet(1, neurons * 10) || !rc.InitNetInputMatrix(1, 1)) {
        printf("FAILED: building the network\n");
        return 1;
    }
    Memory(&emptyResident, &emptyPeak);
    for (first = 0; first < patterns; first += kPiece) {
        const int count = patterns - first < kPiece ? patterns - first : kPiece;
        int p;
        for (p = 0; p < count; ++p) {
            inputs[p] = sin(0.01 * (first + p));
            targets[p] = sin(0.01 * (first + p + 1));
        }
        if (!rc.AddPatternsToNet(1, count, 1, inputs, 1, targets)) {
            printf("FAILED: AddPatternsToNet\n");
            return 1;
        }
    }
    Memory(&storedResident, &storedPeak);
#ifndef _WIN32
    {
        /* Restarts the peak from here, so that it is training's alone. */
        FILE* clear = fopen("/proc/self/clear_refs", "w");
        if (clear) {
            fputs("5", clear);
            fclose(clear);
        }
    }
#endif
    if (!rc.LearnNet(1)) {
        printf("FAILED: LearnNet\n");
        return 1;
    }
    Memory(&resident, &peak);
    printf(
        "MEMORY_HOST neurons=%d patterns=%d raw_patterns_mib=%.1f empty_mib=%.1f stored_mib=%.1f "
        "stored_peak_mib=%.1f peak_mib=%.1f peak_over_empty_mib=%.1f learn_extra_mib=%.1f\n",
        neurons, patterns, patterns * 16.0 / 1048576.0, emptyResident, storedResident, storedPeak, peak,
        peak - emptyResident, peak - storedResident);
    rc.UnregisterUsage(1);
    rcnet_unload(&rc);
    return 0;
}
