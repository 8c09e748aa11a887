// One network: its sizes, its threshold choice, its store of training patterns and its readout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "src/FileOpsFwd.h"
#include "src/OnlineReadout.h"
#include "src/ReadoutSettings.h"
#include "src/Reservoire.h"
#include "src/Types.h"
#include "src/VectorList.h"

namespace rcnet {

class Net {
public:
    Net(uint32_t inSize, uint32_t outSize, bool useThreshold);

    uint32_t InputSize() const { return m_InputSize; }
    uint32_t OutputSize() const { return m_OutputSize; }
    bool UseThreshold() const { return m_UseThreshold; }

    // A pattern whose lengths differ from the network's sizes is reported and not stored: nothing could
    // ever train on it. Returns whether the pattern was stored.
    bool AddPattern(const Vector& input, const Vector& output);

    // Appends the patterns in list order; a pattern that does not fit is reported and skipped. All or
    // nothing: if memory runs out part way, the store is left as it was and the exception goes on to the
    // caller. Lists of different lengths add nothing.
    void AddPatterns(const VectorList& inputs, const VectorList& outputs);
    // Appends count patterns of the network's sizes, given end to end; all or nothing as above.
    void AddPatterns(size_t count, const double* inputs, const double* outputs);

    size_t PatternCount() const { return m_Inputs.size(); }

    // Starts a new training sequence at the next pattern stored. Once a store has marks, training runs
    // every sequence (the patterns before the first mark form one too) from zero states, with the
    // washout left out of each; a store without marks is one stream, as always. A mark where one already
    // is changes nothing.
    void MarkSequenceStart();
    // Appends the patterns like AddPatterns, with sequences starting at the given indices among them
    // (ascending); all or nothing.
    void AddSequences(const VectorList& inputs, const VectorList& outputs,
                      const std::vector<uint32_t>& starts);
    // The pattern indices where marked sequences start, ascending (may equal PatternCount()).
    const Matrix& OutputWeights() const { return m_OutputWeights; }

    Reservoire& Reservoir() { return m_Reservoir; }
    const Reservoire& Reservoir() const { return m_Reservoir; }

    // Trains every output's readout row from all stored patterns, output after output, each on its own
    // pass that continues the reservoir's state. False (after a report, nothing changed) without
    // patterns, when a stored pattern no longer matches the network's sizes, or when the washout leaves
    // no pattern to fit.
    bool Learn();
    // The same with one pass for all outputs: every output is fitted to the same states. With one output
    // it gives Learn's weights.
    bool LearnJointly();

    // Online learning: count steps, inputs and targets end to end; after each step the readout is
    // updated by recursive least squares (src/OnlineReadout.h) from the state and the step's targets,
    // all outputs at once. The least squares start from the current readout (zero rows when it does not
    // fit the reservoir), regularised by the ridge setting (1e-2 when it is 0), and go on across calls as
    // long as nothing else changes the readout. Every step is taken; false (reported) when a step's
    // values were refused (that step leaves the readout as it was) or the states do not cover the
    // neurons (then nothing is stepped).
    bool TrainOnline(size_t count, const double* inputs, const double* targets);

    // Each setter reports and returns false, changing nothing, for a value it cannot take.
    // The significant digits of the doubles Save writes: kFileDigits (6, the default), 7 to 17, or
    // kExactDigits (0) for the shortest text that reads back bit for bit. Kept across loads.
    bool SetFilePrecision(int32_t digits);
    int32_t FilePrecision() const { return m_FileDigits; }
    // The forgetting factor of online learning, in (0, 1]; 1 until set. Restarts the least squares.
    bool SetOnlineForgetting(double forgetting);
    bool SetReadoutMethod(int32_t method);
    bool SetRidge(double ridge);
    bool SetWashout(int64_t count);
    // Sets the ridge chosen for the stored patterns by blocked cross-validation in time (src/RidgeChoice.h)
    // and returns it in chosen; holds every state training would fit at once. False, ridge unchanged,
    // where training would refuse the patterns or a value is not finite. The reservoir's state and
    // everything else are as before: training afterwards gives the same bits as with the ridge set.
    bool ChooseRidge(double& chosen);

    // Every neuron's values and the state vector back to zero, as after loading a file.
    void ResetState() { m_Reservoir.ResetState(); }

    // Steps the reservoir once with input and computes every output as the weighted sum of the states,
    // plus the threshold weight when the network has one; no activation. Returns the outputs, or null
    // (after a report; the step is taken all the same) when the readout does not fit the reservoir:
    // never trained, neurons added since, rows missing or short, or a state vector shorter than the
    // neuron count.
    const Vector* Propagate(const Vector& input);
    // count Propagate steps, inputs and outputs end to end (InputSize() and OutputSize() values each):
    // the same bits as count calls. When the readout does not fit, every step is still taken, outputs is
    // left alone and the result is false (one report).
    bool RunSequence(size_t count, const double* inputs, double* outputs);
    // Closed loop, for a network with as many inputs as outputs: each step's input is the output of the
    // step before, the first step's the last result of Propagate, RunSequence or Generate. False (one
    // report, nothing stepped) without such a result or with other sizes; otherwise as RunSequence. A new
    // readout (training, online steps, a load) drops the last result: it came from the old one.
    bool Generate(size_t count, double* outputs);
    // One entry of a closed loop's feedback map: input `input` of a step is output `output` of the step
    // `delay` (>= 1) steps before it.
    struct FeedbackTap {
        uint32_t input;
        uint32_t output;
        size_t delay;
    };
    // Closed loop with a feedback map, for any sizes: count steps, step t fed row t of inputs
    // (InputSize() values each) with each mapped input replaced by its output of step t - delay once
    // that step is one of these; before, the row's value stands (the known past). The host's other
    // inputs (constants, known covariates) are used as given. The same bits as a host loop of Propagate
    // calls that feeds the outputs back by hand. False (one report, nothing stepped): a tap out of range,
    // an input mapped twice, a value that would be read and is not finite, or a readout that does not
    // fit. Leaves the last output as its last step's.
    bool GenerateMapped(size_t count, const std::vector<FeedbackTap>& taps, const double* inputs,
                        double* outputs);
    // count steps, inputs end to end (InputSize() values each), the states after each step end to end
    // (NeuronCount() values each): the bits of stepping and reading the state every step. No readout is
    // needed or read; the last result is dropped (it belongs to an earlier state). False, nothing
    // stepped, when the reservoir has no state vector of its neuron count (no input matrix yet).
    bool RunStates(size_t count, const double* inputs, double* states);
    // Puts the reservoir in the given state (NeuronCount() values, all finite), as if a step had ended
    // there: the next step continues from it. Drops the last result. False, unchanged, otherwise.
    bool SetState(const double* values, size_t count);

    // Called with the fraction done (0 to 1) between pieces of long work: after each chunk of training
    // states, every kProgressSteps steps of a run, and with 1 when it is done. Empty: nothing is called.
    void SetProgress(std::function<void(double)> report) { m_Progress = std::move(report); }
    static constexpr size_t kProgressSteps = 4096;

    // Writes the network file (sizes, threshold flag, readout, reservoir) without ever leaving a half
    // written file: false, with any previous file intact, when it cannot be written completely.
    bool Save(const std::string& path) const;
    // Reads a network file into this network, replacing its sizes, flag, readout and reservoir; the
    // stored patterns stay. All or nothing: false, with the network unchanged, when the file cannot be
    // opened or is incomplete or malformed.
    bool Load(const std::string& path);
    // The same as text, for the file functions above and for tests and fuzzers. Read leaves the neuron
    // id counter alone; Load moves it past the ids of the file it accepted.
    void Write(TextWriter& out) const;
    bool Read(TextReader& in);
    // Empties the reservoir, the readout, the last result and any online learning in progress.
    void ClearModel();

private:
    bool PatternFits(VectorList::View input, VectorList::View output) const;
    // Makes room for count patterns of the network's sizes in both lists.
    void ReservePatterns(size_t count);
    // Reports and returns false where the stored patterns cannot train (none, sizes, washout).
    bool TrainingDataFits() const;
    bool Train(bool jointly);
    // Consecutive states of a harvest, each `size` values (the reservoir's), `stride` apart from a cache
    // line on; first: the index of the first one's pattern.
    struct StateChunk {
        const double* states;
        size_t size, stride, count, first;
        const double* Row(size_t i) const { return states + i * stride; }
    };
    // Steps the reservoir through every stored pattern; after the washout, hands the chunks of states
    // to fit(const StateChunk&), at most `chunk` states each (0: chosen from the neuron count). The
    // chunk's storage is reused for the next one.
    template <typename Fit>
    void Harvest(Fit&& fit, size_t pass = 0, size_t passes = 1, size_t chunk = 0);
    void ReportProgress(double fraction) const {
        if (m_Progress) m_Progress(fraction);
    }
    template <typename SolverType>
    Matrix FitNormalEquations(bool jointly);
    Matrix FitStableQr(bool jointly);
    // Reports each output whose trained readout cannot predict: a weight that is not finite, or all
    // weights 0 while some target is not (the normal equations' answer to dependent states). Training
    // still succeeds, so a host that checks only the result learns of it here.
    void ReportUnusableReadouts() const;
    bool ReadoutFits() const;
    // The loop of RunSequence and Generate: count steps, step t's input from inputAt(t), each read out
    // into outputs (OutputSize() values per step). Without a readout that fits: false after the first
    // step, or after all of them with stepWithoutReadout.
    template <typename InputAt>
    bool StepAndReadOut(size_t count, double* outputs, bool stepWithoutReadout, InputAt&& inputAt);
    // Reads the readout of the current states into out (OutputSize() values), as Propagate sums it.
    void ReadOut(double* out) const;
    // Whether pattern p starts a marked sequence; next is the caller's place in m_SequenceStarts.
    bool StartsSequence(size_t p, size_t& next) const;

    Reservoire m_Reservoir;
    uint32_t m_InputSize;
    uint32_t m_OutputSize;
    // Pattern p is entry p of both lists. They are flat: the patterns are usually most of a network's
    // memory.
    VectorList m_Inputs;
    VectorList m_Outputs;
    std::vector<size_t> m_SequenceStarts;
    Matrix m_OutputWeights;
    bool m_UseThreshold;
    Vector m_Result;
    // Training harvests states in chunks of this many patterns and folds each chunk into the solver, so
    // its memory does not grow with the number of patterns; the weights do not depend on it. 0: chosen
    // from the neuron count.
    size_t m_LearnChunk = 0;
    ReadoutSettings m_Settings;
    double m_Forgetting = 1.0;
    int32_t m_FileDigits = kFileDigits;
    std::unique_ptr<OnlineReadout> m_Online;  // the least squares in progress, if any
    std::function<void(double)> m_Progress;   // the host's progress callback, if any (not saved)
};

}  // namespace rcnet
