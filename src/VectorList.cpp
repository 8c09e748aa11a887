#include "src/VectorList.h"

#include <algorithm>
#include <stdexcept>

#include "src/Sizes.h"

namespace rcnet {
namespace {

// Room for `extra` more elements, at least half as much again as there is: reserve() alone allocates
// exactly what it is asked, which would make appending one vector at a time quadratic.
template <typename T>
void Grow(std::vector<T>& list, size_t extra) {
    if (extra > list.max_size() - list.size()) throw std::length_error("VectorList");
    const size_t needed = list.size() + extra;
    if (needed <= list.capacity()) return;
    const size_t capacity = list.capacity();
    const size_t geometric = capacity <= list.max_size() - capacity / 2 ? capacity + capacity / 2 : needed;
    list.reserve(std::max(needed, geometric));
}

}  // namespace

VectorList::VectorList(const std::vector<Vector>& lists) {
    for (const Vector& values : lists) {
        Reserve(1, values.size());
        PushBack(values);
    }
}

const VectorList::Run& VectorList::RunOf(size_t i) const {
    if (m_Runs.size() == 1) return m_Runs.front();
    const auto after = std::upper_bound(m_Runs.begin(), m_Runs.end(), i,
                                        [](size_t index, const Run& run) { return index < run.first; });
    return *(after - 1);
}

VectorList::View VectorList::operator[](size_t i) const {
    const Run& run = RunOf(i);
    return View(m_Values.data() + run.offset + (i - run.first) * run.length, run.length);
}

void VectorList::Reserve(size_t count, size_t length) {
    if (count == 0) return;
    const size_t values = SizeProduct(count, length);
    // Both reservations first: when the second fails, the first has only added capacity.
    if (m_Runs.empty() || m_Runs.back().length != length) Grow(m_Runs, 1);
    Grow(m_Values, values);
}

void VectorList::PushBack(const double* values, size_t length) {
    if (m_Runs.empty() || m_Runs.back().length != length)
        m_Runs.push_back({m_Count, length, m_Values.size()});
    m_Values.insert(m_Values.end(), values, values + length);
    ++m_Count;
}

void VectorList::Clear() {
    m_Runs.clear();
    m_Values.clear();
    m_Count = 0;
}

std::vector<Vector> VectorList::ToLists() const {
    std::vector<Vector> lists;
    lists.reserve(m_Count);
    for (size_t i = 0; i < m_Count; ++i) lists.push_back((*this)[i].ToVector());
    return lists;
}

}  // namespace rcnet
