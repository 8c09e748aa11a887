// rcnet's inspection interface: a C++ view into registered networks and into network and pattern files,
// for programs linked with the library's core (the rcnet tool, tests, checkers). It is not part of the
// DLL: hosts that load the library use include/rcnet.h only.
//
// Everything here copies: a Network is a snapshot that stays valid whatever happens to the network
// afterwards. As with the exports, never run a call here and another call on the same network at once.
// Calls may throw std::bad_alloc; nothing else leaves them.
//
// The file checks run the library's own readers, the ones LoadNetFromFile and AddPatternsFromFile run:
// a check accepts exactly the texts the library accepts, and when it refuses one it says where (line and
// column) and why. Like loading, checking a network file makes its neurons, so neuron ids made later in
// the process start above the highest id the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rcnet::inspect {

// A place in a text: line and column from 1 (lines end at LF; columns count bytes, a CR included) and
// the byte offset from 0.
struct TextPlace {
    uint64_t line = 1;
    uint64_t column = 1;
    uint64_t offset = 0;
};

// Where and why a reader refused its text. The place is that of the first value that could not be read
// (or of the header that announced too much); for a text that ends too early it is the end of the text.
// An empty reason: nothing was refused.
struct ReadStop {
    TextPlace at;
    std::string reason;
};

// ---- networks ----

struct Neuron {
    uint32_t id;
    int32_t type;  // 0 sigmoid, 1 bipolar sigmoid, 2 square-root shaped, 3 linear
};

// A weighted link between two neurons, named by their ids.
struct Link {
    uint32_t source;
    uint32_t target;
    double weight;
};

struct Network {
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    bool threshold = false;
    std::vector<Neuron> neurons;  // in reservoir order: ascending id
    // Ordered by source (reservoir order), then by target id. A forward link carries its source's
    // activation within a step, a back link its source's state from the step before.
    std::vector<Link> forward;
    std::vector<Link> back;
    std::vector<std::vector<double>> inputMatrix;  // a row per input, a column per neuron
    std::vector<std::vector<double>> readout;      // a row per output: neuron weights, then the threshold's
    double leakRate = 1.0;                         // 1: the plain step
    std::vector<double> bias;                      // the first neurons' bias values; empty: none
};

// Copies the network registered under id. False, with the registry's report, for an id not registered.
bool GetNetwork(int id, Network& network);

// ---- spectral radius ----

// The state-to-state map of a step is the back-link matrix: a neuron's new sum adds w * previous state
// of every back link into it. The forward links act within a step.
enum class LinkKind { Back, Forward };

struct Radius {
    double value = 0.0;       // largest |eigenvalue|; NaN when a weight is not finite
    bool converged = true;    // false: an iterative block stopped early and value is its best estimate
    double upperBound = 0.0;  // min(largest absolute row sum, largest absolute column sum)
    size_t largestBlock = 0;  // rows of the largest strongly connected block
    bool iterative = false;   // a block was too large for the dense method (restarted Arnoldi)
};

// The spectral radius of a network's back-link or forward-link weight matrix (W[target][source]).
// Strongly connected blocks of up to 100 neurons are solved whole, larger ones by restarted Arnoldi
// (residuals below 1e-9 of the value); 10,000 neurons with 10 links each take about 0.2 s. Accuracy and time in
// docs/INSPECT.md.
Radius LinkRadius(const Network& network, LinkKind kind);
// The same for the network registered under id; false (with the registry's report) when there is none.
bool GetLinkRadius(int id, LinkKind kind, Radius& radius);

// ---- file checks ----

// A matrix header as read: rows, columns and the place of its first value.
struct MatrixHeader {
    uint32_t rows = 0;
    uint32_t columns = 0;
    TextPlace at;
};

// A neuron record of a network file as it stands there (records repeating an id included).
struct NeuronRecord {
    int32_t type;
    uint32_t id;
    TextPlace at;  // of its id
};

// A link line as it stands in the file (lines the library skips or repeats included).
struct LinkLine {
    uint32_t source;
    double weight;
    uint32_t target;
    bool back;
    uint32_t record;  // the neuron record it stands in (index into ReadNotes::neurons)
    TextPlace at;     // of its source id
};

// Two values without white space between them ("2-3" reads as 2 and -3).
struct JoinedValues {
    TextPlace at;  // of the first
    std::string first;
    std::string second;
};

// What a reader saw beyond its verdict, for checkers. Network parts are filled for network files only.
struct ReadNotes {
    static constexpr size_t kMaxJoined = 20;
    std::vector<JoinedValues> joined;  // the first kMaxJoined
    uint64_t joinedCount = 0;
    // Non-blank text after the last value the grammar reads (an accepted text only); the library never
    // reads it.
    bool trailing = false;
    TextPlace trailingAt;
    std::string trailingText;  // its first blank-free run, at most 40 bytes
    MatrixHeader readout;
    MatrixHeader inputMatrix;
    std::vector<NeuronRecord> neurons;
    std::vector<LinkLine> links;
};

struct FileCheck {
    bool opened = true;  // false: the path names no regular file that can be opened
    bool accepted = false;
    ReadStop stop;                     // why not, when not accepted
    ReadNotes notes;                   // what was read up to the verdict
    std::vector<std::string> reports;  // the library's report lines the read made (not written to stderr)
};

struct NetworkFileCheck : FileCheck {
    Network network;  // what loading the file gives (when accepted)
};

struct PatternFileCheck : FileCheck {
    uint32_t inputSize = 0;  // the header's sizes (when accepted)
    uint32_t outputSize = 0;
    std::vector<std::vector<double>> inputs;  // the patterns in file order (when accepted)
    std::vector<std::vector<double>> targets;
    std::vector<uint32_t> sequenceStarts;  // the file's sequences record: empty, the file is one stream
};

// Checks a network file as LoadNetFromFile reads it, or the same text from memory.
NetworkFileCheck CheckNetworkFile(const std::string& path);
NetworkFileCheck CheckNetworkText(const std::string& text);

// Checks a pattern file as AddPatternsFromFile reads it (before it compares the sizes with a network's).
PatternFileCheck CheckPatternFile(const std::string& path);
PatternFileCheck CheckPatternText(const std::string& text);

}  // namespace rcnet::inspect
