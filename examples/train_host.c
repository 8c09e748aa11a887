/* A host that trains: loads rcnet at run time, teaches a network to predict a sine wave one step ahead,
 * runs it on unseen steps and prints the error (exit code 1 when it is not small).
 * Usage: train_host [path-to-library] */
#include <math.h>
#include <stdio.h>

#include "rcnet_loader.h"

#ifdef _WIN32
#define DEFAULT_LIBRARY "rcnet.dll"
#else
#define DEFAULT_LIBRARY "./librcnet.so"
#endif

enum { TRAIN = 500, TEST = 100 };

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : DEFAULT_LIBRARY;
    RcnetApi rc;
    if (!rcnet_load(&rc, path)) {
        fprintf(stderr, "train_host: %s\n", rc.error);
        return 1;
    }
    double xs[TRAIN + TEST + 1], predicted[TEST];
    for (int t = 0; t <= TRAIN + TEST; ++t) xs[t] = sin(0.2 * t);

    rc.Randomize(1);
    /* Network 1: one input, one output, a threshold term, 50 bipolar-sigmoid neurons; the stable readout,
     * fitted after a washout of 50 steps. The patterns pair xs[t] with xs[t + 1]. Running goes on from
     * the state the training left. */
    int ok = rc.RegisterUsage(1, 1, 1, 1) && rc.AddNeuronsToNet(1, 50, 1) &&
             rc.AddRandomConnectionsToNet(1, 250) && rc.AddRandomBackConnectionsToNet(1, 250) &&
             rc.InitNetInputMatrix(1, 1) && rc.SetNetReadoutSolver(1, 1) && rc.SetNetWashout(1, 50) &&
             rc.AddPatternsToNet(1, TRAIN, 1, xs, 1, xs + 1) && rc.LearnNet(1) &&
             rc.RunNetSequence(1, TEST, 1, xs + TRAIN, 1, predicted);
    if (!ok) {
        fprintf(stderr, "train_host: a call failed\n");
        return 1;
    }
    double sum = 0;
    for (int t = 0; t < TEST; ++t) sum += (predicted[t] - xs[TRAIN + 1 + t]) * (predicted[t] - xs[TRAIN + 1 + t]);
    double rmse = sqrt(sum / TEST);
    printf("trained on %d steps; RMSE of the next %d one-step predictions: %.2e\n", TRAIN, TEST, rmse);
    rc.UnregisterUsage(1);
    rcnet_unload(&rc);
    return rmse < 1e-3 ? 0 : 1;
}
