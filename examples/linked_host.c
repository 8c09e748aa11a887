/* A host that links the library (librcnet.so, or rcnet.dll through its import library) and calls the
 * exports directly through include/rcnet.h: trains a small network to add its two inputs, saves it,
 * loads it into a second id and checks that both answer alike. Usage: linked_host [DIR] */
#include <math.h>
#include <stdio.h>

#include "rcnet.h"

int main(int argc, char** argv) {
    const char* dir = argc > 1 ? argv[1] : ".";
    char path[1024];
    snprintf(path, sizeof path, "%s/linked_host.net", dir);

    double inputs[400], targets[200];
    for (int p = 0; p < 200; ++p) {
        inputs[2 * p] = (p % 17) / 17.0 - 0.5;
        inputs[2 * p + 1] = (p % 11) / 11.0 - 0.5;
        targets[p] = inputs[2 * p] + inputs[2 * p + 1];
    }
    Randomize(42);
    if (!RegisterUsage(1, 2, 1, 1) || !AddNeuronsToNet(1, 50, 3) || !AddRandomConnectionsToNet(1, 100) ||
        !InitNetInputMatrix(1, 2) || !AddPatternsToNet(1, 200, 2, inputs, 1, targets) || !LearnNet(1) ||
        !SaveNetToFile(1, path) || !RegisterUsage(2, 2, 1, 1) || !LoadNetFromFile(2, path)) {
        fprintf(stderr, "linked_host: a call failed\n");
        return 1;
    }
    /* Linear neurons: the readout can reproduce the sum almost exactly. */
    const double x[2] = {0.25, -0.125};
    double a, b;
    if (!PropagatePattern(1, 2, x, 1, &a) || !PropagatePattern(2, 2, x, 1, &b)) return 1;
    printf("0.25 + -0.125 = %.6f (trained), %.6f (reloaded)\n", a, b);
    UnregisterUsage(1);
    UnregisterUsage(2);
    remove(path);
    return fabs(a - 0.125) < 1e-3 && fabs(b - 0.125) < 1e-3 ? 0 : 1;
}
