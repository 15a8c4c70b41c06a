#pragma once
// Small dense least-squares problems, solved by Householder QR: the band-edge fits of
// design recovery, a few columns of up to about a thousand rows.

#include <vector>

#include "fixfir/common/result.h"

namespace fixfir {

/// ‖v‖, the square root of the sum of squares. Entries beyond about 1e154 in size
/// overflow the sum to infinity; the fits' terms are far smaller.
[[nodiscard]] double euclidean_norm(const std::vector<double>& v);

/// The coefficients x minimising ‖Σ x[i] columns[i] − target‖ (every column as long as
/// `target`), by Householder QR on the copies taken. A bad_input error when there are no
/// columns, more columns than rows, or the columns are (nearly) dependent: a column's part
/// outside the span of those before it is at most 1e-12 of its length; out_of_memory when
/// memory runs out. Rounding grows with the columns' condition number only, not their scale.
[[nodiscard]] result<std::vector<double>> least_squares(std::vector<std::vector<double>> columns,
                                                        std::vector<double> target) noexcept;

}  // namespace fixfir
