/*
 * rcnet: reservoir-computing (echo state) networks for host applications.
 *
 * Every function returns 1 on success and 0 on failure (Randomize returns nothing). A failed
 * precondition also writes one line to stderr (and, on Windows, to the debugger output):
 *   Assertion failed: EXPR, file SOURCE, line N
 * Networks are addressed by an id of the host's choosing. Any function may be called from any thread,
 * but never run two calls on the same network at once. Arrays and strings are copied during the call;
 * the library keeps no pointer to them.
 */
#ifndef RCNET_H
#define RCNET_H

#if defined(_WIN32) && !defined(_WIN64)
#define RCNET_CALL __stdcall
#else
#define RCNET_CALL
#endif

#if defined(RCNET_BUILDING) && !defined(_WIN32)
#define RCNET_VISIBLE __attribute__((visibility("default")))
#else
#define RCNET_VISIBLE /* the DLL names its exports in a .def file */
#endif

#ifdef __cplusplus
#define RCNET_API extern "C" RCNET_VISIBLE
#else
#define RCNET_API RCNET_VISIBLE
#endif

/* Registers a new, empty network under id, with its input size, output size and whether its readout
 * gets a threshold (constant) term (useThreshold != 0). Sizes are taken as unsigned 32-bit values.
 * Returns 0 with the report "it == m_Nets.end()" when id is already registered (that network is
 * untouched), or with "out of memory". */
RCNET_API int RCNET_CALL RegisterUsage(int id, int inSize, int outSize, int useThreshold);

/* Removes id from the registry; the network dies once no running call uses it. Always returns 1, also
 * for an id that was never registered. */
RCNET_API int RCNET_CALL UnregisterUsage(int id);

/* Seeds the calling thread's random generator (every thread starts as if seeded with 1). The same seed
 * followed by the same calls in one thread builds the same network. */
RCNET_API void RCNET_CALL Randomize(unsigned int seed);

/* Adds count neurons of one type to the network's reservoir: 0 sigmoid, 1 bipolar sigmoid (tanh-like),
 * 2 square-root-shaped odd function, 3 linear. Returns 1 when the network exists, also for a type outside
 * 0..3, which adds nothing and reports "false". A negative count returns 0 ("count >= 0"). */
RCNET_API int RCNET_CALL AddNeuronsToNet(int id, int count, int type);

/* Adds count new random forward links (weights evenly in [-1, 1]) between the reservoir's neurons, drawn
 * from the calling thread's generator. Returns 1 when the network exists; a count above the free ordered
 * pairs adds nothing and reports "count <= size*size" or "count <= free pairs". Negative: 0. */
RCNET_API int RCNET_CALL AddRandomConnectionsToNet(int id, int count);

/* The same for back links, which carry each neuron's state from the previous step. */
RCNET_API int RCNET_CALL AddRandomBackConnectionsToNet(int id, int count);

/* Draws the input matrix (inputCount rows, one column per neuron present now) and zeroes the input and
 * state vectors. Pass the network's input size; call it after the last AddNeuronsToNet. Returns 1 when
 * the network exists; a negative inputCount returns 0 ("inputCount >= 0"). */
RCNET_API int RCNET_CALL InitNetInputMatrix(int id, int inputCount);

#endif /* RCNET_H */
