/*
 * Loads rcnet at run time, as a host application does, and looks every export up by its undecorated
 * name: LoadLibraryA/GetProcAddress on Windows, dlopen/dlsym elsewhere. Header-only, C and C++.
 *
 *   RcnetApi api;
 *   if (!rcnet_load(&api, "rcnet.dll")) { puts(api.error); return 1; }
 *   api.RegisterUsage(1, 3, 1, 1);
 *   ...
 *   rcnet_unload(&api);
 */
#ifndef RCNET_LOADER_H
#define RCNET_LOADER_H

#include <stdio.h>
#include <string.h>

#include "rcnet.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
typedef HMODULE RcnetModule;
#else
#include <dlfcn.h>
typedef void* RcnetModule;
#endif

typedef struct RcnetApi {
    RcnetModule module;
    char error[512]; /* why rcnet_load failed */
    int(RCNET_CALL* RegisterUsage)(int id, int inSize, int outSize, int useThreshold);
    int(RCNET_CALL* UnregisterUsage)(int id);
    void(RCNET_CALL* Randomize)(unsigned int seed);
    int(RCNET_CALL* AddNeuronsToNet)(int id, int count, int type);
    int(RCNET_CALL* AddRandomConnectionsToNet)(int id, int count);
    int(RCNET_CALL* AddRandomBackConnectionsToNet)(int id, int count);
    int(RCNET_CALL* InitNetInputMatrix)(int id, int inputCount);
    int(RCNET_CALL* AddPatternsToNet)(int id, int count, int inSize, const double* inputs, int outSize,
                                      const double* outputs);
    int(RCNET_CALL* LearnNet)(int id);
    int(RCNET_CALL* PropagatePattern)(int id, int inSize, const double* ins, int outSize, double* outs);
    int(RCNET_CALL* SaveNetToFile)(int id, const char* path);
    int(RCNET_CALL* LoadNetFromFile)(int id, const char* path);
    int(RCNET_CALL* AddPatternsFromFile)(int id, const char* path);
    int(RCNET_CALL* SetNetReadoutSolver)(int id, int method);
    int(RCNET_CALL* SetNetRegularization)(int id, const double* lambda);
    int(RCNET_CALL* ChooseNetRegularization)(int id, double* chosen);
    int(RCNET_CALL* SetNetWashout)(int id, int count);
    int(RCNET_CALL* ResetNetState)(int id);
    int(RCNET_CALL* GetNetState)(int id, int count, double* out);
    int(RCNET_CALL* LearnNetJointly)(int id);
    int(RCNET_CALL* GetNetSpectralRadius)(int id, double* out);
    int(RCNET_CALL* SetNetSpectralRadius)(int id, const double* radius);
    int(RCNET_CALL* SetNetInputScaling)(int id, const double* scale);
    int(RCNET_CALL* SetNetLeakRate)(int id, const double* rate);
    int(RCNET_CALL* RunNetSequence)(int id, int count, int inSize, const double* ins, int outSize,
                                    double* outs);
    int(RCNET_CALL* GenerateNet)(int id, int count, int outSize, double* outs);
    int(RCNET_CALL* SetNetProgress)(int id, RcnetProgress callback, void* context);
    int(RCNET_CALL* GenerateNetMapped)(int id, int count, int mapSize, const int* map, int inSize,
                                       const double* ins, int outSize, double* outs);
    int(RCNET_CALL* MarkNetSequenceStart)(int id);
    int(RCNET_CALL* SetNetOnlineLearning)(int id, const double* forgetting);
    int(RCNET_CALL* TrainNetOnline)(int id, int count, int inSize, const double* ins, int outSize,
                                    const double* targets);
    int(RCNET_CALL* GetLastReport)(char* buffer, int size);
    int(RCNET_CALL* GetLastReportKind)(void);
    int(RCNET_CALL* GetLastFileError)(char* buffer, int size);
    int(RCNET_CALL* SetReportEcho)(int enabled);
    int(RCNET_CALL* GetNetSizes)(int id, int* inSize, int* outSize, int* useThreshold);
    int(RCNET_CALL* GetNetNeuronCount)(int id, int* count);
    int(RCNET_CALL* GetNetReadoutShape)(int id, int* rows, int* columns);
    int(RCNET_CALL* GetNetReadout)(int id, int rows, int columns, double* out);
    int(RCNET_CALL* GetNetLeakRate)(int id, double* rate);
    int(RCNET_CALL* InitNetBias)(int id, const double* scaling);
    int(RCNET_CALL* GetNetBias)(int id, int neurons, double* out);
    int(RCNET_CALL* GetNetInputMatrix)(int id, int inputs, int neurons, double* out);
    int(RCNET_CALL* GetNetLinkCount)(int id, int back, int* count);
    int(RCNET_CALL* GetNetLinks)(int id, int back, int count, int* sources, int* targets, double* weights);
    int(RCNET_CALL* SetNetState)(int id, int neurons, const double* state);
    int(RCNET_CALL* RunNetStates)(int id, int count, int inSize, const double* ins, int neurons,
                                  double* states);
    int(RCNET_CALL* SetNetFilePrecision)(int id, int digits);
} RcnetApi;

/* The functions are static inline: a unit that uses only some of them gets no unused-function warning. */
static inline void* rcnet_loader_symbol(RcnetApi* api, const char* name) {
    void* symbol;
#ifdef _WIN32
    /* Through memcpy: ISO C has no cast from function to object pointer (-pedantic warns). */
    FARPROC procedure = GetProcAddress(api->module, name);
    memcpy(&symbol, &procedure, sizeof symbol);
#else
    symbol = dlsym(api->module, name);
#endif
    if (!symbol) {
        /* Every missing export named, as far as the message holds them. */
        const size_t used = strlen(api->error);
        if (used == 0)
            snprintf(api->error, sizeof api->error, "export %s not found", name);
        else if (used + 2 < sizeof api->error)
            snprintf(api->error + used, sizeof api->error - used, ", %s", name);
    }
    return symbol;
}

/* Returns 1 when the library was loaded and every export found; otherwise 0 with api->error set, the
 * library not kept loaded and every pointer null. */
static inline int rcnet_load(RcnetApi* api, const char* path) {
    memset(api, 0, sizeof *api);
#ifdef _WIN32
    api->module = LoadLibraryA(path);
    if (!api->module) {
        snprintf(api->error, sizeof api->error, "cannot load %s (error %lu)", path,
                 (unsigned long)GetLastError());
        return 0;
    }
#else
    api->module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!api->module) {
        snprintf(api->error, sizeof api->error, "cannot load %s: %s", path, dlerror());
        return 0;
    }
#endif
    /* Function pointers travel through memcpy: ISO C has no cast from object to function pointer. */
#define RCNET_LOADER_FIND(name)                         \
    do {                                                \
        void* symbol = rcnet_loader_symbol(api, #name); \
        memcpy(&api->name, &symbol, sizeof symbol);     \
    } while (0)
    RCNET_LOADER_FIND(RegisterUsage);
    RCNET_LOADER_FIND(UnregisterUsage);
    RCNET_LOADER_FIND(Randomize);
    RCNET_LOADER_FIND(AddNeuronsToNet);
    RCNET_LOADER_FIND(AddRandomConnectionsToNet);
    RCNET_LOADER_FIND(AddRandomBackConnectionsToNet);
    RCNET_LOADER_FIND(InitNetInputMatrix);
    RCNET_LOADER_FIND(AddPatternsToNet);
    RCNET_LOADER_FIND(LearnNet);
    RCNET_LOADER_FIND(PropagatePattern);
    RCNET_LOADER_FIND(SaveNetToFile);
    RCNET_LOADER_FIND(LoadNetFromFile);
    RCNET_LOADER_FIND(AddPatternsFromFile);
    RCNET_LOADER_FIND(SetNetReadoutSolver);
    RCNET_LOADER_FIND(SetNetRegularization);
    RCNET_LOADER_FIND(ChooseNetRegularization);
    RCNET_LOADER_FIND(SetNetWashout);
    RCNET_LOADER_FIND(ResetNetState);
    RCNET_LOADER_FIND(GetNetState);
    RCNET_LOADER_FIND(LearnNetJointly);
    RCNET_LOADER_FIND(GetNetSpectralRadius);
    RCNET_LOADER_FIND(SetNetSpectralRadius);
    RCNET_LOADER_FIND(SetNetInputScaling);
    RCNET_LOADER_FIND(SetNetLeakRate);
    RCNET_LOADER_FIND(RunNetSequence);
    RCNET_LOADER_FIND(GenerateNet);
    RCNET_LOADER_FIND(GenerateNetMapped);
    RCNET_LOADER_FIND(SetNetProgress);
    RCNET_LOADER_FIND(MarkNetSequenceStart);
    RCNET_LOADER_FIND(SetNetOnlineLearning);
    RCNET_LOADER_FIND(TrainNetOnline);
    RCNET_LOADER_FIND(GetLastReport);
    RCNET_LOADER_FIND(GetLastReportKind);
    RCNET_LOADER_FIND(GetLastFileError);
    RCNET_LOADER_FIND(SetReportEcho);
    RCNET_LOADER_FIND(GetNetSizes);
    RCNET_LOADER_FIND(GetNetNeuronCount);
    RCNET_LOADER_FIND(GetNetReadoutShape);
    RCNET_LOADER_FIND(GetNetReadout);
    RCNET_LOADER_FIND(GetNetLeakRate);
    RCNET_LOADER_FIND(InitNetBias);
    RCNET_LOADER_FIND(GetNetBias);
    RCNET_LOADER_FIND(GetNetInputMatrix);
    RCNET_LOADER_FIND(GetNetLinkCount);
    RCNET_LOADER_FIND(GetNetLinks);
    RCNET_LOADER_FIND(SetNetState);
    RCNET_LOADER_FIND(RunNetStates);
    RCNET_LOADER_FIND(SetNetFilePrecision);
#undef RCNET_LOADER_FIND
    if (api->error[0] == 0) return 1;
    /* A library without every export (another version): not kept loaded, nothing half usable. */
    {
        char error[sizeof api->error];
        memcpy(error, api->error, sizeof error);
#ifdef _WIN32
        FreeLibrary(api->module);
#else
        dlclose(api->module);
#endif
        memset(api, 0, sizeof *api);
        memcpy(api->error, error, sizeof error);
    }
    return 0;
}

static inline void rcnet_unload(RcnetApi* api) {
    if (!api->module) return;
#ifdef _WIN32
    FreeLibrary(api->module);
#else
    dlclose(api->module);
#endif
    api->module = 0;
}

#endif /* RCNET_LOADER_H */
