/* Loads and unloads the library as a host does, idle and after training large enough to start the
 * worker threads, and checks that the library really leaves the process and takes every thread it
 * started with it, and that a load right after an unload starts afresh. Usage: unload_check LIBRARY */
#include <stdio.h>
#include <stdlib.h>

#include "rcnet_loader.h"

#ifdef _WIN32
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <poll.h>
#endif

/* Threads of this process that may be the library's: on Linux those named as its workers are (a
 * sanitizer's runtime may run threads of its own), on Windows all are counted. */
static int Threads(void) {
    int count = 0;
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    if (Thread32First(snapshot, &entry)) {
        do {
            if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
        } while (Thread32Next(snapshot, &entry));
    }
    CloseHandle(snapshot);
#else
    DIR* tasks = opendir("/proc/self/task");
    struct dirent* entry;
    if (!tasks) return -1;
    while ((entry = readdir(tasks)) != NULL) {
        char path[300], name[64] = "";
        FILE* comm;
        if (entry->d_name[0] == '.') continue;
        snprintf(path, sizeof path, "/proc/self/task/%s/comm", entry->d_name);
        comm = fopen(path, "r");
        if (!comm) continue;
        if (fgets(name, sizeof name, comm) && strncmp(name, "rcnet-worker", 12) == 0) ++count;
        fclose(comm);
    }
    closedir(tasks);
#endif
    return count;
}

static int Loaded(const char* path) {
#ifdef _WIN32
    const char* name = strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
    name = strrchr(name, '/') ? strrchr(name, '/') + 1 : name;
    return GetModuleHandleA(name) != NULL;
#else
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != NULL;
#endif
}

static void SleepMs(int ms) {
#ifdef _WIN32
    Sleep(ms);
#else
    poll(NULL, 0, ms);
#endif
}

/* Waits up to 10 s for the library to leave and the thread count to come back to `threads`. */
static int Gone(const char* path, int threads, const char* what) {
    int waited = 0;
    while ((Loaded(path) || Threads() > threads) && waited < 10000) {
        SleepMs(20);
        waited += 20;
    }
    if (Loaded(path) || Threads() > threads) {
        printf("FAILED %s: loaded %d, threads %d (started with %d)\n", what, Loaded(path), Threads(),
               threads);
        return 0;
    }
    printf("%s: unloaded after %d ms, threads back to %d\n", what, waited, threads);
    return 1;
}

/* Trains a network big enough for the fold and the elimination to use the workers. */
static int Train(RcnetApi* rc) {
    enum { kNeurons = 300, kPatterns = 1500 };
    double* inputs = malloc(sizeof(double) * kPatterns * 2);
    double* targets = malloc(sizeof(double) * kPatterns);
    int p, ok;
    if (!inputs || !targets) return 0;
    for (p = 0; p < kPatterns; ++p) {
        inputs[2 * p] = (p % 17) * 0.05;
        inputs[2 * p + 1] = (p % 5) * -0.1;
        targets[p] = (p % 11) * 0.02;
    }
    rc->Randomize(3);
    ok = rc->RegisterUsage(9, 2, 1, 1) && rc->AddNeuronsToNet(9, kNeurons, 1) &&
         rc->AddRandomConnectionsToNet(9, kNeurons * 5) && rc->AddRandomBackConnectionsToNet(9, kNeurons) &&
         rc->InitNetInputMatrix(9, 2) && rc->AddPatternsToNet(9, kPatterns, 2, inputs, 1, targets) &&
         rc->LearnNet(9) && rc->UnregisterUsage(9);
    free(inputs);
    free(targets);
    return ok;
}

int main(int argc, char** argv) {
    RcnetApi rc;
    int start, round, ok = 1;
    if (argc < 2) {
        fprintf(stderr, "usage: unload_check LIBRARY\n");
        return 2;
    }
    start = Threads();

    /* Idle: loaded, called, unloaded. */
    if (!rcnet_load(&rc, argv[1])) {
        printf("FAILED: %s\n", rc.error);
        return 1;
    }
    ok = rc.RegisterUsage(1, 1, 1, 1) && rc.UnregisterUsage(1);
    rcnet_unload(&rc);
    ok = Gone(argv[1], start, "idle") && ok;

    /* After work, twice: the second load starts fresh workers. */
    for (round = 0; round < 2 && ok; ++round) {
        int during;
        if (!rcnet_load(&rc, argv[1])) {
            printf("FAILED: %s\n", rc.error);
            return 1;
        }
        if (!Train(&rc)) {
            printf("FAILED: training\n");
            ok = 0;
        }
        during = Threads();
        printf("after work: %d threads (started with %d)\n", during, start);
        rcnet_unload(&rc);
        ok = Gone(argv[1], start, "after work") && ok;
    }
    /* Unloaded right after training and loaded again at once: nothing of the old registry is left. */
    for (round = 0; round < 3 && ok; ++round) {
        int fresh;
        if (!rcnet_load(&rc, argv[1])) {
            printf("FAILED: %s\n", rc.error);
            return 1;
        }
        if (!rc.RegisterUsage(1, 1, 1, 1) || !Train(&rc)) {
            printf("FAILED: registering and training\n");
            ok = 0;
        }
        rcnet_unload(&rc);
        if (Loaded(argv[1])) {
            printf("FAILED reload at once: the library is still loaded after the unload\n");
            ok = 0;
        }
        if (!rcnet_load(&rc, argv[1])) {
            printf("FAILED: %s\n", rc.error);
            return 1;
        }
        fresh = rc.RegisterUsage(1, 1, 1, 1);
        if (fresh != 1) {
            printf("FAILED reload at once: id 1 is still registered from the previous load\n");
            ok = 0;
        }
        rc.UnregisterUsage(1);
        rcnet_unload(&rc);
        ok = Gone(argv[1], start, "reload at once") && ok;
    }
    printf("unload_check: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
