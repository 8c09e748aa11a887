// A list of vectors of doubles kept end to end in one block, so that a million short vectors cost their
// values and not a million heap blocks. Consecutive vectors of the same length form a run; a list whose
// vectors all have one length (the usual case) has a single run.
#pragma once

#include <cstddef>
#include <vector>

#include "src/Types.h"

namespace rcnet {

class VectorList {
public:
    // Read access to one vector; valid until the list changes.
    class View {
    public:
        View(const double* values, size_t count) : m_Values(values), m_Count(count) {}
        View(const Vector& values) : m_Values(values.data()), m_Count(values.size()) {}  // NOLINT: a view
        size_t size() const { return m_Count; }
        bool empty() const { return m_Count == 0; }
        const double* data() const { return m_Values; }
        const double* begin() const { return m_Values; }
        const double* end() const { return m_Values + m_Count; }
        const double& operator[](size_t i) const { return m_Values[i]; }
        Vector ToVector() const { return Vector(begin(), end()); }

    private:
        const double* m_Values;
        size_t m_Count;
    };

    VectorList() = default;
    explicit VectorList(const std::vector<Vector>& lists);

    size_t size() const { return m_Count; }
    bool empty() const { return m_Count == 0; }
    View operator[](size_t i) const;

    // Makes room for count more vectors of length values each, so that as many PushBack calls of that
    // length cannot fail. Throws (std::bad_alloc, std::length_error) and changes nothing when memory runs
    // out. Grows geometrically: a long series of small reservations costs linear time.
    void Reserve(size_t count, size_t length);
    // Appends a copy of values[0, length). Never throws after a matching Reserve.
    void PushBack(const double* values, size_t length);
    void PushBack(const Vector& values) { PushBack(values.data(), values.size()); }
    void Clear();

    // Copies, for tests and tools.
    std::vector<Vector> ToLists() const;

private:
    struct Run {
        size_t first;   // index of its first vector
        size_t length;  // values per vector
        size_t offset;  // position of its first value in m_Values
    };
    const Run& RunOf(size_t i) const;

    std::vector<Run> m_Runs;
    Vector m_Values;
    size_t m_Count = 0;
};

}  // namespace rcnet
