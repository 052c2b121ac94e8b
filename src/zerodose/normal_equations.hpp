// Solution of the small symmetric normal equations of the dose refinement: scaled to unit
// diagonal, diagonalised by Jacobi rotations, solved by the eigenvalue-truncated inverse.
#pragma once

#include <cstddef>
#include <span>

namespace velmar {

// Packed symmetric storage: element (j, k) of an n x n symmetric matrix, 0-based, is at
// packed_index(j, k) (the lower triangle row by row), packed_size(n) elements in all.
constexpr size_t packed_index(size_t j, size_t k) { return j >= k ? j * (j + 1) / 2 + k : k * (k + 1) / 2 + j; }
constexpr size_t packed_size(size_t n) { return n * (n + 1) / 2; }

// Solves A x = y for the unknowns k with fixed[k] == 0 (n = fixed.size(); the fixed ones take
// no part and get x = 0). `expected` is the rank the caller expects of the free part.
// Eigen-directions with eigenvalues at most 5e-6 of the largest are left out, so a singular
// system gets the solution of least length (in the units of the unit-diagonal scaling).
// Returns 0, or -1 when `expected` is outside 1..n or the rank is lower than expected
// (its `expected`-th eigenvalue at most 1e-5 of the largest); x is then all zero.
int solvneq(int expected, std::span<const int> fixed, std::span<const double> a, std::span<const double> y,
            std::span<double> x);

}  // namespace velmar
