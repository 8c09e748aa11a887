/*
 * rcnet: reservoir-computing (echo state) networks for host applications.
 *
 * Every function returns 1 on success and 0 on failure (Randomize returns nothing; GetLastReportKind
 * returns a kind, RCNET_REPORT_*). A failed precondition also writes one line to stderr (and, on
 * Windows, to the debugger output):
 *   Assertion failed: EXPR, file SOURCE, line N
 * Networks are addressed by an id of the host's choosing. Any function may be called from any thread;
 * two calls on the same network take turns (each holds the network's lock from start to end), calls on
 * different networks run at once. Arrays and strings are copied during the call; the library keeps no
 * pointer to them.
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
 * 0..3, which adds nothing and reports "false" (whatever the count). A negative count with a type of 0..3
 * returns 0 ("count >= 0"). Ids never repeat within a network and ascend in its list: once the process's
 * ids have run out (a file held ids near 4294967295), new neurons take the ids above their network's
 * highest, and a network without room above its own gets none (0, "fresh neuron ids left"). */
RCNET_API int RCNET_CALL AddNeuronsToNet(int id, int count, int type);

/* Adds count new random forward links (weights evenly in [-1, 1]) between the reservoir's neurons, drawn
 * from the calling thread's generator. Returns 1 when the network exists; a count above the free ordered
 * pairs adds nothing and reports "count <= size*size" or "count <= free pairs"; so does a negative count,
 * which the reservoir reads as unsigned (over two billion). Out of memory part way: 0, no link added and
 * the generator as before the call. */
RCNET_API int RCNET_CALL AddRandomConnectionsToNet(int id, int count);

/* The same for back links, which carry each neuron's state from the previous step. */
RCNET_API int RCNET_CALL AddRandomBackConnectionsToNet(int id, int count);

/* Draws the input matrix (inputCount rows, one column per neuron present now) and zeroes the input
 * vector and the reported state vector; the neurons keep their own states. Pass the network's input
 * size; call it after the last AddNeuronsToNet. Returns 1 when the network exists; a negative inputCount
 * returns 0 ("inputCount >= 0"). */
RCNET_API int RCNET_CALL InitNetInputMatrix(int id, int inputCount);

/* Appends count training patterns. Pattern i is inputs[i*inSize .. i*inSize+inSize-1] with targets
 * outputs[i*outSize .. i*outSize+outSize-1]. inSize and outSize must be the network's sizes, else 0 with
 * the report "net && net->InputSize() == size_t(inSize) && net->OutputSize() == size_t(outSize)".
 * A negative count or a null array (count > 0) returns 0. All or nothing: on failure nothing is added. */
RCNET_API int RCNET_CALL AddPatternsToNet(int id, int count, int inSize, const double* inputs, int outSize,
                                          const double* outputs);

/* Trains the readout: for each output in turn, all stored patterns run through the reservoir in stored
 * order (continuing its state) and the output's weights are fitted by least squares. Returns 0 without
 * stored patterns ("m_Inputs.size() > 0") or when stored patterns no longer match the network's sizes.
 * Returns 1 also when an output's readout came out all zero (dependent states) or not finite, with one
 * report per such output ("readout of output N not all zero (...)", "readout of output N finite (...)"). */
RCNET_API int RCNET_CALL LearnNet(int id);

/* Feeds inSize inputs from ins through the reservoir (one step) and writes outSize outputs to outs:
 * the weighted sum of the states, plus the threshold weight; no activation. Returns 0 with outs
 * untouched, and the reservoir not stepped, for sizes other than the network's or a null array; 0 with
 * outs untouched after the step for a network whose readout does not fit its reservoir (never trained
 * or loaded, or neurons added since). */
RCNET_API int RCNET_CALL PropagatePattern(int id, int inSize, const double* ins, int outSize, double* outs);

/* Saves the network (sizes, threshold flag, readout weights, reservoir; not the stored patterns) as a
 * text file. The file is written aside (a new file of a random name) and renamed over path only when
 * complete: on any failure (the directory is missing, the disk is full, ...) it returns 0 with a report
 * and a previous file at path is untouched. Only a regular file is replaced: a device, FIFO, socket or
 * directory is refused. Not on Windows: symbolic links are followed to the regular file they lead to
 * (a loop or a chain ending at a missing name is refused), and an existing file keeps its owner, group
 * and permissions (another user's file that the caller may not give back is rewritten in place). */
RCNET_API int RCNET_CALL SaveNetToFile(int id, const char* path);

/* Loads a network file into the registered network id: its sizes, threshold flag, readout and
 * reservoir are replaced by the file's (neurons start from zero states); stored patterns stay. Returns 0,
 * with the network unchanged, for a file that cannot be opened, is incomplete or malformed, or holds a
 * neuron type outside 0..3. */
RCNET_API int RCNET_CALL LoadNetFromFile(int id, const char* path);

/* Adds the patterns of a pattern file: input size, output size, pattern count, then for each pattern
 * its inputs and targets, all separated by white space. All or nothing: returns 0 and adds nothing for a
 * file that cannot be opened, ends early or holds text that is not a number, or holds patterns whose
 * sizes are not the network's. A count of 0 patterns returns 1, whatever the sizes. */
RCNET_API int RCNET_CALL AddPatternsFromFile(int id, const char* path);

/* ---- Readout settings, state control, joint training. A host that never calls these gets the
 * behaviour of the thirteen above bit for bit; the settings are not written to network files and stay
 * with the registered network across LoadNetFromFile. */

/* Chooses how LearnNet and LearnNetJointly fit the readout: 0 (the default) folds the states into
 * normal equations and solves them by Gauss-Jordan elimination; 1 solves the least-squares problem on
 * the states themselves (streamed Householder QR, then a rank-revealing minimum-norm solve), which stays
 * accurate where the normal equations lose the fit, at a few times the training time; no ridge drops
 * the threshold weight, and both methods give the same bits on every target. Another method:
 * 0 ("method == kNormalEquations || method == kStableQr"). */
RCNET_API int RCNET_CALL SetNetReadoutSolver(int id, int method);

/* Sets the ridge (Tikhonov) term *lambda >= 0 added to the readout weights' penalty (never to the
 * threshold weight), for both methods. 0, the default, gives exactly the unregularised weights. A null
 * pointer, a negative, infinite or NaN value: 0, setting unchanged. */
RCNET_API int RCNET_CALL SetNetRegularization(int id, const double* lambda);

/* Chooses the ridge for the stored patterns and sets it as SetNetRegularization would, writing it to
 * *chosen unless chosen is null. The states training would fit (the washout and sequence marks as
 * set) are cut into 5 blocks in time; each is held out in turn and predicted by the readout fitted on
 * the other states less 10 either side of it, for ridges 1e-16, 10^-15.5, ..., 1e3; the largest whose
 * error (each output's divided by its variance, summed) is within 10% of the best is taken. Small on
 * clean data, larger on noisy data. Fewer than 10 states: 1e-6. It holds all those states in memory at
 * once; the reservoir's state is left as found, so LearnNet afterwards gives the bits it gives with the
 * ridge set by hand, and the choice is the same on every target. No patterns, sizes or a washout that
 * LearnNet would refuse, or a state or target that is not finite ("trainingValuesFinite"): 0, the ridge
 * unchanged. */
RCNET_API int RCNET_CALL ChooseNetRegularization(int id, double* chosen);

/* In every training pass the first count stored patterns still step the reservoir but are not fitted.
 * 0 is the default. A negative count returns 0. LearnNet returns 0 (nothing changed) when the washout
 * leaves no pattern to fit ("m_Settings.washout < m_Inputs.size()"). */
RCNET_API int RCNET_CALL SetNetWashout(int id, int count);

/* Sets every neuron's values and the state vector back to zero, as after loading a file. The readout,
 * links and stored patterns stay. */
RCNET_API int RCNET_CALL ResetNetState(int id);

/* Copies the reservoir's current state vector (one value per neuron) to out. count must equal the
 * neuron count, and the state vector must exist (InitNetInputMatrix called after the last neurons were
 * added); otherwise 0 and out untouched. */
RCNET_API int RCNET_CALL GetNetState(int id, int count, double* out);

/* Trains every output from one pass over the stored patterns: all outputs are fitted to the same
 * states (one fold, one right-hand side per output), so training costs one pass instead of one per
 * output. With one output the weights are LearnNet's, bit for bit. Fails like LearnNet. */
RCNET_API int RCNET_CALL LearnNetJointly(int id);

/* ---- Reservoir settings: what echo-state users tune first. A host that never calls these gets the
 * thirteen's bits and files. */

/* Writes the spectral radius (largest eigenvalue modulus) of the back links' weight matrix to *out: the
 * map from one step's states to the next's, which decides the reservoir's memory. Exact block split,
 * then a dense solve for blocks of up to 100 neurons and a restarted Arnoldi iteration beyond (about
 * 1e-9 relative). 0 for a reservoir without back links. A null out or weights that are not finite: 0. */
RCNET_API int RCNET_CALL GetNetSpectralRadius(int id, double* out);

/* Multiplies every back-link weight by one factor so that their spectral radius becomes *radius (finite,
 * > 0). A reservoir without back links, or whose radius is 0, cannot be scaled: 0, nothing changed. */
RCNET_API int RCNET_CALL SetNetSpectralRadius(int id, const double* radius);

/* Multiplies every entry of the input matrix by *scale (finite). The stored matrix changes, so saved
 * files carry it; call it after InitNetInputMatrix (before it: 0, nothing to scale). */
RCNET_API int RCNET_CALL SetNetInputScaling(int id, const double* scale);

/* Leaky-integrator neurons: after every step (training and propagation alike) each neuron's state
 * becomes (1 - *rate) * its previous state + *rate * the new state. 0 < *rate <= 1; 1, the default, is
 * the plain step bit for bit. Saved files carry a rate below 1 as a record after the reservoir, which
 * readers of the plain format ignore; a file without it loads with rate 1. Another value: 0, unchanged. */
RCNET_API int RCNET_CALL SetNetLeakRate(int id, const double* rate);

/* A constant input term per neuron (a reservoir bias): one value per neuron, drawn in neuron order like
 * the input weights (in [-1, 1]) times *scaling, added to the neuron's input sum after the inputs'
 * terms, as a last input of constant 1 with these weights would be. *scaling 0 removes it (the plain
 * step, bit for bit); a new call draws anew; neurons added later have none. Saved files carry it as a
 * record after the reservoir (every digit), which readers of the plain format ignore. A scaling that is
 * not finite, or a network without neurons: 0, unchanged. */
RCNET_API int RCNET_CALL InitNetBias(int id, const double* scaling);

/* ---- Sequences. */

/* count steps of PropagatePattern in one call: inputs end to end (count * inSize values), outputs end to
 * end (count * outSize). The same bits as count PropagatePattern calls. Sizes other than the network's,
 * a negative count or a null array: 0, nothing stepped. A readout that does not fit the reservoir: every
 * step is still taken, outs is untouched, 0 (one report). */
RCNET_API int RCNET_CALL RunNetSequence(int id, int count, int inSize, const double* ins, int outSize,
                                        double* outs);

/* Closed-loop generation for a network with as many inputs as outputs: count steps, each fed the
 * previous step's output, the first fed the output of the last PropagatePattern, RunNetSequence or
 * GenerateNet call; outputs end to end in outs (count * outSize values). The same bits as a host loop
 * that feeds the outputs back by hand. No previous output (never propagated, loaded since, or the last
 * call refused), other sizes: 0, nothing stepped. */
RCNET_API int RCNET_CALL GenerateNet(int id, int count, int outSize, double* outs);

/* Closed-loop generation with a feedback map, for any sizes: count steps, step t fed row t of ins
 * (inSize values each) in which every mapped input is replaced by an output of an earlier step of this
 * call. map holds mapSize triples (input, output, delay): input `input` of step t is output `output` of
 * step t - delay (delay >= 1, each input at most once). Before a tap's delay reaches into the call
 * (t < delay) the row's own value stands: the known past. The other inputs (a constant, known
 * covariates) are always the host's. Outputs end to end in outs (count * outSize values); the same bits
 * as a host loop of PropagatePattern calls that feeds the outputs back by hand. Two calls go on as one
 * when the second's rows carry the first's outputs where its taps reach back. Values the loop overwrites
 * are never read (NaN is fine there); every value it reads must be finite. Other sizes, a tap out of
 * range, an input mapped twice, a value read that is not finite, a readout that does not fit: 0, nothing
 * stepped. */
RCNET_API int RCNET_CALL GenerateNetMapped(int id, int count, int mapSize, const int* map, int inSize,
                                           const double* ins, int outSize, double* outs);

/* A host's progress callback: the network's id, the fraction of the call's work done (0 to 1), and the
 * context given to SetNetProgress. */
typedef void(RCNET_CALL* RcnetProgress)(int id, double fraction, void* context);

/* Sets the callback that long calls on this network make between pieces of their work, on the calling
 * thread, inside the call: LearnNet and LearnNetJointly after each chunk of training states and with 1
 * when trained; RunNetSequence, GenerateNet and GenerateNetMapped every 4096 steps and with 1 at the end
 * of a longer run. A null callback (the default) removes it. Not saved in files. Returns 1, or 0 for an
 * unregistered id. */
RCNET_API int RCNET_CALL SetNetProgress(int id, RcnetProgress callback, void* context);

/* Starts a new training sequence at the next pattern added. Once a network has marks, LearnNet and
 * LearnNetJointly run every sequence (the patterns before the first mark form one too) from zero states
 * and leave the washout (SetNetWashout) out of each sequence; a store without marks trains as one
 * stream, as always. Pattern files can carry marks too (AddPatternsFromFile). */
RCNET_API int RCNET_CALL MarkNetSequenceStart(int id);

/* ---- Online learning. */

/* Sets the forgetting factor of online learning, 0 < *forgetting <= 1 (1, the default, weighs every
 * past step alike; 0.99 forgets with a time constant of about 100 steps), and restarts its least
 * squares. Another value or a null pointer: 0, unchanged. */
RCNET_API int RCNET_CALL SetNetOnlineLearning(int id, const double* forgetting);

/* count steps, inputs end to end (count * inSize) and targets end to end (count * outSize): after each
 * step the readout is updated by recursive least squares from the state and the step's targets, all
 * outputs at once, starting from the current readout (trained, loaded, or zero when it does not fit the
 * reservoir), regularised by SetNetRegularization's ridge (1e-2 when 0). It goes on across calls until
 * something else changes the readout. O(N^2) per step. Sizes other than the network's, a negative count,
 * null arrays, or states that do not cover the neurons: 0, nothing stepped. A step with values that are
 * not finite is taken but leaves the readout alone: 0 after all steps (reported). */
RCNET_API int RCNET_CALL TrainNetOnline(int id, int count, int inSize, const double* ins, int outSize,
                                        const double* targets);

/* ---- Reports and what a network holds. */

/* Copies the report lines ("Assertion failed: EXPR, file SOURCE, line N", each ending in a line feed)
 * that the calling thread's last call into the library made, into buffer, terminated; "" when it made
 * none. Every other export starts a new last call; this one does not, so asking twice gives the same
 * lines. At most 8192 bytes of whole lines are kept, then "(N more lines not kept)" and the last line.
 * A call from inside another (a progress callback) leaves the outer call's lines as they were. Returns 1
 * when all of them fit into size bytes, 0 when they were cut (buffer then holds the first size - 1 bytes)
 * or buffer is null or size < 1. */
RCNET_API int RCNET_CALL GetLastReport(char* buffer, int size);

/* What kind of failure a report stands for, so that a host can decide what went wrong (and tell its
 * user what to do) without reading the lines' text. CALL_ORDER: something the call needs is missing, as
 * stored patterns, a trained readout that fits the reservoir, an input matrix drawn after the last
 * neurons, a last output, neurons, back links. GetLastReportKind returns one of these. */
#define RCNET_REPORT_NONE 0          /* the call made no report */
#define RCNET_REPORT_UNKNOWN_ID 1    /* no network is registered under the id (never, or unregistered) */
#define RCNET_REPORT_ID_TAKEN 2      /* RegisterUsage: the id is already registered */
#define RCNET_REPORT_ARGUMENT 3      /* an argument or setting out of range, or a null pointer */
#define RCNET_REPORT_SIZE 4          /* sizes or counts that are not the network's */
#define RCNET_REPORT_CALL_ORDER 5    /* something the call needs is missing: call what makes it first */
#define RCNET_REPORT_NUMERIC 6       /* a value that is not finite, or a computation that failed on it */
#define RCNET_REPORT_FILE_ACCESS 7   /* a file that cannot be opened or saved */
#define RCNET_REPORT_FILE_FORMAT 8   /* a file whose text the reader refused */
#define RCNET_REPORT_OUT_OF_MEMORY 9 /* memory ran out */
#define RCNET_REPORT_INTERNAL 10     /* the library's own consistency, or an unexpected exception */

/* The kind (RCNET_REPORT_*) of the first report line the calling thread's last call made, or
 * RCNET_REPORT_NONE when it made none. A call that could not use a file has a file kind, whatever lines
 * came before (GetLastFileError says why). Like GetLastReport it does not start a new call. A call that
 * returned 1 may have a kind too: its lines were warnings (an unknown neuron type, a readout that came
 * out all zero). */
RCNET_API int RCNET_CALL GetLastReportKind(void);

/* Why the calling thread's last call could not use a file (LoadNetFromFile, AddPatternsFromFile,
 * SaveNetToFile), as "PATH: cannot be opened (...)", "PATH: line L, column C: REASON" (what was found and
 * what the format expects there) or "PATH: cannot be saved: REASON"; "" when its last call had no such
 * failure. Kept and returned like GetLastReport. */
RCNET_API int RCNET_CALL GetLastFileError(char* buffer, int size);

/* Whether report lines also go to stderr (and the debugger's output on Windows): 1, the default, or 0
 * for hosts that read them with GetLastReport. For the whole process. Returns 1. */
RCNET_API int RCNET_CALL SetReportEcho(int enabled);

/* The network's input size, output size and threshold flag (1 or 0), as registered or as the last load
 * left them; a null pointer skips its value. */
RCNET_API int RCNET_CALL GetNetSizes(int id, int* inSize, int* outSize, int* useThreshold);

/* The number of neurons in the reservoir. */
RCNET_API int RCNET_CALL GetNetNeuronCount(int id, int* count);

/* The readout's shape: one row per output once trained, each of N + 1 weights with the threshold term
 * (N without); 0 x 0 before training. */
RCNET_API int RCNET_CALL GetNetReadoutShape(int id, int* rows, int* columns);

/* Copies the readout weights, row by row (rows * columns values: each row's neuron weights in neuron
 * order, then the threshold weight). rows and columns must be the readout's shape; otherwise 0. */
RCNET_API int RCNET_CALL GetNetReadout(int id, int rows, int columns, double* out);

/* The leak rate (SetNetLeakRate; 1 when never set). */
RCNET_API int RCNET_CALL GetNetLeakRate(int id, double* rate);

/* Copies the bias (InitNetBias), one value per neuron in neuron order, 0 for a neuron without one;
 * neurons must be the network's neuron count, otherwise 0. */
RCNET_API int RCNET_CALL GetNetBias(int id, int neurons, double* out);

/* The input matrix, row by row (inputs x neurons values: each input's weight to every neuron in neuron
 * order). inputs and neurons must be the matrix's shape (0 x neurons before InitNetInputMatrix gives
 * 0 rows); otherwise 0. */
RCNET_API int RCNET_CALL GetNetInputMatrix(int id, int inputs, int neurons, double* out);

/* The number of forward links (back 0) or back links (back 1), for GetNetLinks. */
RCNET_API int RCNET_CALL GetNetLinkCount(int id, int back, int* count);

/* The forward (back 0) or back (back 1) links as count triples: sources[k] and targets[k] are neuron
 * positions (0 .. neurons - 1, in the order GetNetState uses), weights[k] the link's weight, so that
 * W[targets[k]][sources[k]] = weights[k]; in reservoir order of the sources, each source's links in the
 * order the step sums them. count must be GetNetLinkCount's; otherwise 0. */
RCNET_API int RCNET_CALL GetNetLinks(int id, int back, int count, int* sources, int* targets,
                                     double* weights);

/* Puts the reservoir in a state (neurons values in neuron order, all finite), as if a step had ended
 * there: the next step continues from it (forecasts from many origins without a warm-up each). The last
 * output is dropped (GenerateNet needs a new one). Another count, a value that is not finite, or a
 * network without an input matrix: 0, unchanged. */
RCNET_API int RCNET_CALL SetNetState(int id, int neurons, const double* state);

/* count steps, inputs end to end (count * inSize values), and the state after each step end to end
 * (count * neurons values): the bits of count PropagatePattern steps each followed by GetNetState, but
 * no readout is needed or read. A step taken drops the last output. Sizes other than the network's, a
 * negative count or a null array: 0, nothing stepped. */
RCNET_API int RCNET_CALL RunNetStates(int id, int count, int inSize, const double* ins, int neurons,
                                      double* states);

/* ---- Files. */

/* The significant digits of the doubles SaveNetToFile writes, weights and reservoir alike: 6, the
 * default and the file format's own (byte for byte), 7 to 17, or 0 for the shortest text that reads
 * back as the same double (lossless; NaNs keep sign and payload). A setting of the running network, kept
 * across LoadNetFromFile; readers accept every form. Another value: 0, unchanged. */
RCNET_API int RCNET_CALL SetNetFilePrecision(int id, int digits);

#endif /* RCNET_H */
