// The reservoir: neurons joined by random forward and back links, a random input matrix that spreads
// every input over all neurons, and the synchronous update step. It is never reset: every step continues
// from the state the previous one left.
#pragma once

#include <cstdint>
#include <vector>

#include "src/EigenvalueRadius.h"
#include "src/FileOpsFwd.h"
#include "src/Neurons.h"
#include "src/StepPlan.h"
#include "src/Types.h"

namespace rcnet {

class Reservoire {
public:
    // Appends count neurons of one type, with fresh ids: the process's next ones, or once those have run
    // out, the lowest ones the reservoir does not hold. A type the factory refuses adds nothing (one
    // report). False, adding nothing, when the reservoir would hold more neurons than there are ids.
    bool AddNeurons(uint32_t count, int32_t type);

    // Draws random links until count new ones exist; per attempt a weight, then a target, then a source.
    // A count above size*size, or above the ordered pairs still free, draws and adds nothing.
    void AddRandomConnections(uint32_t count);
    void AddRandomBackConnections(uint32_t count);

    // Draws a new input matrix (rows x neurons, row by row) and zeroes the input, sum and state vectors.
    void InitInputMatrix(uint32_t rows);

    void SetInputs(const Vector& inputs);
    void SetInputs(const double* values, size_t count);
    void Step();
    Vector GetState() const { return m_States; }
    uint32_t NeuronCount() const { return static_cast<uint32_t>(m_Neurons.size()); }
    void Clear();
    // Every neuron's four values, the inputs, input sums and states back to zero, as after loading a
    // file; neurons, links and the input matrix stay.
    void ResetState();

    // Leaky integration: after each step, every neuron that stepped takes (1 - rate) * its previous
    // state + rate * its new state. 1, the default, is the plain step bit for bit (the blend is skipped).
    // Reports and returns false, changing nothing, outside (0, 1].
    bool SetLeakRate(double rate);
    double LeakRate() const { return m_LeakRate; }

    // Multiplies every entry of the input matrix by scale. Reports and returns false, changing nothing,
    // for a scale that is not finite or a reservoir without an input matrix (nothing would be kept).
    bool ScaleInputMatrix(double scale);

    // Puts every neuron's state (values in neuron order, all finite; count the neuron count), as a step
    // that ended there would: the next step continues from it. Reports and returns false, changing
    // nothing, otherwise or without a state vector (no input matrix yet).
    bool SetState(const double* values, size_t count);

    // A constant input term per neuron, added to its input sum after the inputs' terms (as a last input
    // of constant 1 whose weights are the bias would be): one draw per neuron, in neuron order, of the
    // input weights' kind, times scaling. Scaling 0 removes the bias (the plain step, bit for bit).
    // Reports and returns false, changing nothing, for a scaling that is not finite or a reservoir
    // without neurons.
    bool InitBias(double scaling);
    // Replaces the bias (one value per neuron, or empty for none), as read from a file.
    void SetBias(Vector bias) { m_Bias.swap(bias); }
    const Vector& Bias() const { return m_Bias; }

    // The spectral radius of the back links' weights W[target][source], neurons numbered by position:
    // the map from one step's states to the next's (see src/EigenvalueRadius.h for method and accuracy).
    SpectralRadiusResult BackLinkRadius() const;
    // The forward or back links as entries W[target][source], neurons numbered by position, in
    // reservoir order of their sources, each source's links in the order of the targets' ids.
    std::vector<MatrixEntry> LinkEntries(bool back) const;
    // How many forward or back links there are (LinkEntries' size, without building them).
    size_t LinkCount(bool back) const;
    // Multiplies every back-link weight by one factor, target / the current radius. Reports and returns
    // false, changing nothing, for a target that is not finite and positive, a reservoir without back
    // links or with radius 0, or weights that are not finite.
    bool SetBackLinkRadius(double target);

    // The reservoir's block of the network file: neurons with types, ids and outgoing links, then the
    // input matrix.
    void WriteReservoir(TextWriter& out) const;
    // Replaces the reservoir by the block read from in. False when a value is missing or not a number or
    // a neuron type is not 0..3; the reservoir is then incomplete and only fit to be discarded.
    // The ids read are not taken from the process's counter: once everything read is accepted, call
    // ReserveReadIds, so that neurons made later never repeat one of them.
    bool ReadReservoir(TextReader& in);
    void ReserveReadIds() const;

    // The neurons with their current values.
    const std::vector<NeuronRef>& Neurons() const;
    const Vector& Inputs() const { return m_Inputs; }
    const Matrix& InputMatrix() const { return m_InputMatrix; }
    const Vector& InputSums() const { return m_InputSums; }
    const Vector& States() const { return m_States; }
    // Steps taken since construction or the last Clear.
    uint64_t StepCount() const { return m_StepCount; }

private:
    void AddRandomLinks(uint32_t count, bool back);
    uint64_t FreeLinkPairs(bool back) const;
    // Before the neurons or links change: the values go back into the neurons and the plan is dropped.
    void InvalidatePlan();

    std::vector<NeuronRef> m_Neurons;
    Vector m_Inputs;
    Matrix m_InputMatrix;
    Vector m_InputSums;
    Vector m_States;

    uint64_t m_StepCount = 0;
    double m_LeakRate = 1.0;
    Vector m_Bias;                           // empty: no bias
    std::vector<const double*> m_InputRows;  // the input matrix's rows, for the step's sums
    mutable StepPlan m_Plan;
    mutable bool m_PlanValid = false;
};

}  // namespace rcnet
