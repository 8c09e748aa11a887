// A dense matrix in one contiguous row-major block. Rows are reached through an index table, so
// exchanging two rows swaps two indices instead of copying their entries.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "src/Aligned.h"
#include "src/Sizes.h"
#include "src/Types.h"

namespace rcnet {

class RowMatrix {
public:
    RowMatrix() = default;
    RowMatrix(size_t rows, size_t columns) { Resize(rows, columns); }

    // rows x columns zeros; previous contents are discarded.
    void Resize(size_t rows, size_t columns) {
        // Rows start on 64-byte boundaries, so that vector loads at multiples of their width stay within
        // a cache line; the padding is never part of a row.
        const size_t stride = CacheLineStride(columns);
        AlignedVector<double> block(SizeProduct(rows, stride), 0.0);
        std::vector<size_t> index(rows);
        for (size_t i = 0; i < rows; ++i) index[i] = i * stride;
        m_Block.swap(block);
        m_RowStart.swap(index);
        m_Columns = columns;
    }

    size_t Rows() const { return m_RowStart.size(); }
    size_t Columns() const { return m_Columns; }

    double* Row(size_t i) { return m_Block.data() + m_RowStart[i]; }
    const double* Row(size_t i) const { return m_Block.data() + m_RowStart[i]; }
    double& At(size_t i, size_t j) { return Row(i)[j]; }
    double At(size_t i, size_t j) const { return Row(i)[j]; }

    void SwapRows(size_t i, size_t j) { std::swap(m_RowStart[i], m_RowStart[j]); }

    // Adds value to the first count diagonal entries (as far as the matrix reaches).
    void AddToDiagonal(size_t count, double value) {
        const size_t diagonal = std::min(count, std::min(Rows(), m_Columns));
        for (size_t j = 0; j < diagonal; ++j) At(j, j) = At(j, j) + value;
    }
    // Replaces the last column's entries by values, row by row, as far as both reach.
    void SetLastColumn(const Vector& values) {
        if (m_Columns == 0) return;
        const size_t rows = std::min(Rows(), values.size());
        for (size_t j = 0; j < rows; ++j) At(j, m_Columns - 1) = values[j];
    }

    // A copy as a list of rows, in row order.
    Matrix ToRows() const {
        Matrix rows(Rows());
        for (size_t i = 0; i < Rows(); ++i) rows[i].assign(Row(i), Row(i) + m_Columns);
        return rows;
    }

private:
    AlignedVector<double> m_Block;
    std::vector<size_t> m_RowStart;
    size_t m_Columns = 0;
};

}  // namespace rcnet
