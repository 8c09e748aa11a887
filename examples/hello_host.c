/* A minimal host: loads rcnet at run time, registers a network, seeds the generator and shows what a
 * failed precondition looks like. Usage: hello_host [path-to-library] */
#include <stdio.h>

#include "rcnet_loader.h"

#ifdef _WIN32
#define DEFAULT_LIBRARY "rcnet.dll"
#else
#define DEFAULT_LIBRARY "./librcnet.so"
#endif

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : DEFAULT_LIBRARY;
    RcnetApi rc;
    if (!rcnet_load(&rc, path)) {
        fprintf(stderr, "hello_host: %s\n", rc.error);
        return 1;
    }
    printf("loaded %s\n", path);

    int ok = rc.RegisterUsage(7, 3, 1, 1);
    printf("RegisterUsage(7, 3 inputs, 1 output, threshold) -> %d\n", ok);

    rc.Randomize(2024);
    printf("Randomize(2024): this thread's draws are now reproducible\n");

    printf("RegisterUsage(7, ...) again; the library reports on stderr:\n");
    fflush(stdout);
    int again = rc.RegisterUsage(7, 3, 1, 1);
    printf("  -> %d (id 7 is taken; its network is untouched)\n", again);

    printf("UnregisterUsage(7) -> %d\n", rc.UnregisterUsage(7));
    printf("UnregisterUsage(7) -> %d (unregistering twice is harmless)\n", rc.UnregisterUsage(7));
    printf("RegisterUsage(7, ...) -> %d (the id is free again)\n", rc.RegisterUsage(7, 3, 1, 1));
    rc.UnregisterUsage(7);

    rcnet_unload(&rc);
    return ok == 1 && again == 0 ? 0 : 1;
}
