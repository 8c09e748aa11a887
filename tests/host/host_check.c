/* A host in plain C that loads the library at run time (LoadLibraryA/GetProcAddress on Windows,
 * dlopen/dlsym elsewhere) and checks what every export it calls returns. The precondition reports go
 * to stderr, where the test that runs this program looks for them. Usage: host_check LIBRARY */
#include <stdio.h>
#include <string.h>

#include "rcnet_loader.h"

static int failures = 0;
static int checks = 0;

#define EXPECT_INT(call, expected)                                                                           \
    do {                                                                                                     \
        int got_ = (call);                                                                                   \
        ++checks;                                                                                            \
        if (got_ != (expected)) {                                                                            \
            ++failures;                                                                                      \
            printf("FAILED line %d: %s returned %d, expected %d\n", __LINE__, #call, got_, (int)(expected)); \
        }                                                                                                    \
    } while (0)

int main(int argc, char** argv) {
    RcnetApi rc;
    if (argc < 2) {
        fprintf(stderr, "usage: host_check LIBRARY\n");
        return 2;
    }
    if (!rcnet_load(&rc, argv[1])) {
        printf("FAILED: %s\n", rc.error);
        return 1;
    }

    /* Sentinels around the calls: a wrong calling convention leaves the stack pointer off by the
     * argument bytes after every call, which corrupts locals or crashes within a few thousand calls. */
    volatile int before = 0x1234567;
    for (int i = 0; i < 5000; ++i) {
        rc.Randomize((unsigned)i);
        EXPECT_INT(rc.RegisterUsage(100000 + i % 7, i, 2 * i, i % 2), 1);
        EXPECT_INT(rc.AddNeuronsToNet(100000 + i % 7, 1 + i % 3, i % 4), 1);
        EXPECT_INT(rc.AddRandomConnectionsToNet(100000 + i % 7, 1), 1);
        EXPECT_INT(rc.AddRandomBackConnectionsToNet(100000 + i % 7, 1), 1);
        EXPECT_INT(rc.InitNetInputMatrix(100000 + i % 7, 2), 1);
        EXPECT_INT(rc.UnregisterUsage(100000 + i % 7), 1);
        if (failures) break;
    }
    volatile int after = 0x7654321;
    EXPECT_INT(before, 0x1234567);
    EXPECT_INT(after, 0x7654321);

    /* Train and run a small network: the pattern and propagation calls take 6 and 5 arguments. */
    {
        double inputs[40], targets[20], outs[3] = {0, 0, -5.0};
        int p;
        for (p = 0; p < 20; ++p) {
            inputs[2 * p] = 0.1 * p;
            inputs[2 * p + 1] = -0.05 * p;
            targets[p] = 0.3 * p;
        }
        EXPECT_INT(rc.RegisterUsage(77, 2, 1, 1), 1);
        EXPECT_INT(rc.AddNeuronsToNet(77, 10, 1), 1);
        EXPECT_INT(rc.AddRandomConnectionsToNet(77, 20), 1);
        EXPECT_INT(rc.InitNetInputMatrix(77, 2), 1);
        EXPECT_INT(rc.AddPatternsToNet(77, 20, 2, inputs, 1, targets), 1);
        EXPECT_INT(rc.LearnNet(77), 1);
        for (p = 0; p < 1000; ++p) EXPECT_INT(rc.PropagatePattern(77, 2, inputs, 1, outs), 1);
        EXPECT_INT(outs[1] == 0 && outs[2] == -5.0, 1); /* nothing written past outSize */
        EXPECT_INT(rc.PropagatePattern(77, 2, inputs, 2, outs), 0);
        /* Save, reload into another id, and run both side by side. */
        EXPECT_INT(rc.SaveNetToFile(77, "host_check.net"), 1);
        EXPECT_INT(rc.RegisterUsage(78, 1, 1, 0), 1);
        EXPECT_INT(rc.LoadNetFromFile(78, "host_check.net"), 1);
        EXPECT_INT(rc.LoadNetFromFile(78, "no such file.net"), 0);
        EXPECT_INT(rc.AddPatternsFromFile(78, "no such file.txt"), 0);
        {
            double a[1], b[1];
            EXPECT_INT(rc.RegisterUsage(79, 1, 1, 0), 1);
            EXPECT_INT(rc.LoadNetFromFile(79, "host_check.net"), 1);
            EXPECT_INT(rc.PropagatePattern(78, 2, inputs, 1, a), 1);
            EXPECT_INT(rc.PropagatePattern(79, 2, inputs, 1, b), 1);
            EXPECT_INT(a[0] == b[0], 1);
            EXPECT_INT(rc.UnregisterUsage(79), 1);
        }
        remove("host_check.net");
        EXPECT_INT(rc.UnregisterUsage(78), 1);
        EXPECT_INT(rc.UnregisterUsage(77), 1);
    }

    EXPECT_INT(rc.RegisterUsage(-1, 3, 1, 1), 1);
    EXPECT_INT(rc.RegisterUsage(-1, 3, 1, 0), 0); /* reports "it == m_Nets.end()" */
    EXPECT_INT(rc.UnregisterUsage(-1), 1);
    EXPECT_INT(rc.UnregisterUsage(-1), 1);
    EXPECT_INT(rc.RegisterUsage(-1, 3, 1, 0), 1);
    EXPECT_INT(rc.UnregisterUsage(-1), 1);

    rcnet_unload(&rc);

    /* A library without the exports: refused, not kept loaded, every missing export named. */
#ifdef _WIN32
    EXPECT_INT(rcnet_load(&rc, "kernel32.dll"), 0);
#else
    EXPECT_INT(rcnet_load(&rc, "libm.so.6"), 0);
#endif
    EXPECT_INT(rc.module == 0 && rc.RegisterUsage == 0, 1);
    EXPECT_INT(strncmp(rc.error, "export RegisterUsage not found, UnregisterUsage, Randomize", 58), 0);
    printf("host_check: %d checks, %d failed\n", checks, failures);
    return failures ? 1 : 0;
}
