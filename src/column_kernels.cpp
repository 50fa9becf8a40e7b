// describe's two passes, count_nan's count and filter_by's scan and copy, over
// pairs of doubles: two columns side by side in describe (each lane one
// column's chain, in that column's row order), two neighbouring cells of one
// column in the compares.

#include "column_kernels.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>

#include "target_features.hpp"

namespace kernels {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Two doubles (Pair), a mask of two lanes where a compare holds (Mask), and
// two 64-bit counts (Counts), with the operations the passes need. Lane 0
// comes from the first argument or the lower address. only(where, x) is x
// where the mask holds and 0.0 elsewhere.
#if defined(ORVANTIS_SSE2)

using Pair = __m128d;
using Mask = __m128d;
using Counts = __m128i;

Pair load_across(const double* first, const double* second) { return _mm_loadh_pd(_mm_load_sd(first), second); }
Pair load_along(const double* cells) { return _mm_loadu_pd(cells); }
Pair broadcast(double x) { return _mm_set1_pd(x); }
Pair add(Pair x, Pair y) { return _mm_add_pd(x, y); }
Pair subtract(Pair x, Pair y) { return _mm_sub_pd(x, y); }
Pair multiply(Pair x, Pair y) { return _mm_mul_pd(x, y); }
Mask not_nan(Pair x) { return _mm_cmpord_pd(x, x); }
Mask equal(Pair x, Pair y) { return _mm_cmpeq_pd(x, y); }
Pair only(Mask where, Pair x) { return _mm_and_pd(where, x); }
// x > max ? x : max and x < min ? x : min, lane by lane: what MAXPD and MINPD
// give, their second operand unless the first is greater (or less).
Pair greater_of(Pair x, Pair max) { return _mm_max_pd(x, max); }
Pair less_of(Pair x, Pair min) { return _mm_min_pd(x, min); }
Counts no_counts() { return _mm_setzero_si128(); }
// A mask lane is all ones, -1 as an integer: subtracting it adds 1.
Counts count_where(Counts counts, Mask where) { return _mm_sub_epi64(counts, _mm_castpd_si128(where)); }
unsigned mask_bits(Mask where) { return static_cast<unsigned>(_mm_movemask_pd(where)); }
std::array<double, 2> lanes(Pair x) {
    std::array<double, 2> out{};
    _mm_storeu_pd(out.data(), x);
    return out;
}
std::array<std::uint64_t, 2> lanes(Counts counts) {
    std::array<std::uint64_t, 2> out{};
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data()), counts);
    return out;
}

#elif defined(ORVANTIS_NEON)

using Pair = float64x2_t;
using Mask = uint64x2_t;
using Counts = uint64x2_t;

Pair load_across(const double* first, const double* second) { return vcombine_f64(vld1_f64(first), vld1_f64(second)); }
Pair load_along(const double* cells) { return vld1q_f64(cells); }
Pair broadcast(double x) { return vdupq_n_f64(x); }
Pair add(Pair x, Pair y) { return vaddq_f64(x, y); }
Pair subtract(Pair x, Pair y) { return vsubq_f64(x, y); }
Pair multiply(Pair x, Pair y) { return vmulq_f64(x, y); }
Mask not_nan(Pair x) { return vceqq_f64(x, x); }
Mask equal(Pair x, Pair y) { return vceqq_f64(x, y); }
Pair only(Mask where, Pair x) { return vreinterpretq_f64_u64(vandq_u64(where, vreinterpretq_u64_f64(x))); }
// Compare and select: FMAX and FMIN order -0.0 below 0.0 and return NaN.
Pair greater_of(Pair x, Pair max) { return vbslq_f64(vcgtq_f64(x, max), x, max); }
Pair less_of(Pair x, Pair min) { return vbslq_f64(vcltq_f64(x, min), x, min); }
Counts no_counts() { return vdupq_n_u64(0); }
// A mask lane is all ones, -1 modulo 2^64: subtracting it adds 1.
Counts count_where(Counts counts, Mask where) { return vsubq_u64(counts, where); }
unsigned mask_bits(Mask where) {
    return static_cast<unsigned>((vgetq_lane_u64(where, 0) & 1U) | (vgetq_lane_u64(where, 1) & 2U));
}
std::array<double, 2> lanes(Pair x) { return {vgetq_lane_f64(x, 0), vgetq_lane_f64(x, 1)}; }
std::array<std::uint64_t, 2> lanes(Counts counts) { return {vgetq_lane_u64(counts, 0), vgetq_lane_u64(counts, 1)}; }

#else

// The scalar twin: the same operations on plain doubles, one lane after the other.
struct Pair {
    std::array<double, 2> lane;
};
struct Mask {
    std::array<bool, 2> lane;
};
struct Counts {
    std::array<std::uint64_t, 2> lane;
};

template <typename Result, typename Lane>
Result lane_by_lane(Lane lane) {
    return Result{{lane(0), lane(1)}};
}

Pair load_across(const double* first, const double* second) { return Pair{{*first, *second}}; }
Pair load_along(const double* cells) { return Pair{{cells[0], cells[1]}}; }
Pair broadcast(double x) { return Pair{{x, x}}; }
Pair add(Pair x, Pair y) {
    return lane_by_lane<Pair>([&](std::size_t i) { return x.lane[i] + y.lane[i]; });
}
Pair subtract(Pair x, Pair y) {
    return lane_by_lane<Pair>([&](std::size_t i) { return x.lane[i] - y.lane[i]; });
}
Pair multiply(Pair x, Pair y) {
    return lane_by_lane<Pair>([&](std::size_t i) { return x.lane[i] * y.lane[i]; });
}
Mask not_nan(Pair x) {
    return lane_by_lane<Mask>([&](std::size_t i) { return x.lane[i] == x.lane[i]; });
}
Mask equal(Pair x, Pair y) {
    return lane_by_lane<Mask>([&](std::size_t i) { return x.lane[i] == y.lane[i]; });
}
Pair only(Mask where, Pair x) {
    return lane_by_lane<Pair>([&](std::size_t i) { return where.lane[i] ? x.lane[i] : 0.0; });
}
Pair greater_of(Pair x, Pair max) {
    return lane_by_lane<Pair>([&](std::size_t i) { return x.lane[i] > max.lane[i] ? x.lane[i] : max.lane[i]; });
}
Pair less_of(Pair x, Pair min) {
    return lane_by_lane<Pair>([&](std::size_t i) { return x.lane[i] < min.lane[i] ? x.lane[i] : min.lane[i]; });
}
Counts no_counts() { return Counts{{0, 0}}; }
Counts count_where(Counts counts, Mask where) {
    return lane_by_lane<Counts>([&](std::size_t i) { return counts.lane[i] + (where.lane[i] ? 1U : 0U); });
}
unsigned mask_bits(Mask where) { return (where.lane[0] ? 1U : 0U) | (where.lane[1] ? 2U : 0U); }
std::array<double, 2> lanes(Pair x) { return x.lane; }
std::array<std::uint64_t, 2> lanes(Counts counts) { return counts.lane; }

#endif

bool is_nan(double x) { return x != x; }

// describe's first pass over one column, one cell at a time, in row order:
// the count, sum, greatest and least of the cells that are not NaN.
struct FirstPass {
    std::size_t count = 0;
    double sum = 0.0;
    double min = kInfinity;
    double max = -kInfinity;

    void take(double x) {
        if (is_nan(x)) {
            return;
        }
        ++count;
        sum += x;
        if (x > max) {
            max = x;
        }
        if (x < min) {
            min = x;
        }
    }
};

// describe's second pass over one column: the squared deviations from the
// mean of the cells that are not NaN, added in row order.
struct SecondPass {
    double mean = 0.0;
    double squares = 0.0;

    void take(double x) {
        if (is_nan(x)) {
            return;
        }
        const double deviation = x - mean;
        squares += deviation * deviation;
    }
};

// The columns that advance together, two to a pair: lane 0 of pair p is
// column first[p], lane 1 column second[p] (the same column again when the
// group has an odd number of columns; its lanes then agree).
template <std::size_t Pairs>
struct Group {
    std::array<std::size_t, Pairs> first{};
    std::array<std::size_t, Pairs> second{};
    std::size_t rows = 0;  // the rows that every column of the group has
};

// Row after row over the group's common rows, each lane the FirstPass of its
// column; then each column alone over the rest of its rows. A NaN cell adds
// 0.0 to its lane's sum where the plain loop skips it, with the same result:
// a running sum that starts at 0.0 is never -0.0 (x + -x is 0.0) except when
// rounding downwards, where -0.0 + 0.0 is -0.0 too; so adding 0.0 changes no
// sum, as long as subnormal inputs are not read as zero (the x86 DAZ flag,
// which C++ and Python leave off) while subnormal results are kept.
template <std::size_t Pairs>
void first_pass(const Group<Pairs>& group, const std::vector<ColumnView>& columns, std::vector<FirstPass>& passes) {
    std::array<const double*, Pairs> first_cells{};
    std::array<const double*, Pairs> second_cells{};
    Pair sum[Pairs];
    Pair min[Pairs];
    Pair max[Pairs];
    Counts count[Pairs];
    for (std::size_t p = 0; p < Pairs; ++p) {
        first_cells[p] = columns[group.first[p]].cells;
        second_cells[p] = columns[group.second[p]].cells;
        sum[p] = broadcast(0.0);
        min[p] = broadcast(kInfinity);
        max[p] = broadcast(-kInfinity);
        count[p] = no_counts();
    }
    for (std::size_t row = 0; row < group.rows; ++row) {
        for (std::size_t p = 0; p < Pairs; ++p) {
            const Pair x = load_across(first_cells[p] + row, second_cells[p] + row);
            const Mask kept = not_nan(x);
            count[p] = count_where(count[p], kept);
            sum[p] = add(sum[p], only(kept, x));
            max[p] = greater_of(x, max[p]);
            min[p] = less_of(x, min[p]);
        }
    }
    for (std::size_t p = 0; p < Pairs; ++p) {
        const std::array<std::size_t, 2> lane_columns{group.first[p], group.second[p]};
        for (std::size_t lane = 0; lane < 2; ++lane) {
            FirstPass& pass = passes[lane_columns[lane]];
            pass.count = lanes(count[p])[lane];
            pass.sum = lanes(sum[p])[lane];
            pass.min = lanes(min[p])[lane];
            pass.max = lanes(max[p])[lane];
            const ColumnView column = columns[lane_columns[lane]];
            std::for_each(column.cells + group.rows, column.cells + column.size, [&](double x) { pass.take(x); });
        }
    }
}

// As first_pass, for the squared deviations.
template <std::size_t Pairs>
void second_pass(const Group<Pairs>& group, const std::vector<ColumnView>& columns, std::vector<SecondPass>& passes) {
    std::array<const double*, Pairs> first_cells{};
    std::array<const double*, Pairs> second_cells{};
    Pair mean[Pairs];
    Pair squares[Pairs];
    for (std::size_t p = 0; p < Pairs; ++p) {
        first_cells[p] = columns[group.first[p]].cells;
        second_cells[p] = columns[group.second[p]].cells;
        mean[p] = load_across(&passes[group.first[p]].mean, &passes[group.second[p]].mean);
        squares[p] = broadcast(0.0);
    }
    for (std::size_t row = 0; row < group.rows; ++row) {
        for (std::size_t p = 0; p < Pairs; ++p) {
            const Pair x = load_across(first_cells[p] + row, second_cells[p] + row);
            const Pair deviation = subtract(x, mean[p]);
            squares[p] = add(squares[p], only(not_nan(x), multiply(deviation, deviation)));
        }
    }
    for (std::size_t p = 0; p < Pairs; ++p) {
        const std::array<std::size_t, 2> lane_columns{group.first[p], group.second[p]};
        for (std::size_t lane = 0; lane < 2; ++lane) {
            SecondPass& pass = passes[lane_columns[lane]];
            pass.squares = lanes(squares[p])[lane];
            const ColumnView column = columns[lane_columns[lane]];
            std::for_each(column.cells + group.rows, column.cells + column.size, [&](double x) { pass.take(x); });
        }
    }
}

// Columns [start, start + count) as a group of Pairs pairs.
template <std::size_t Pairs>
Group<Pairs> make_group(const std::vector<ColumnView>& columns, std::size_t start, std::size_t count) {
    Group<Pairs> group;
    group.rows = columns[start].size;
    for (std::size_t p = 0; p < Pairs; ++p) {
        group.first[p] = start + 2 * p;
        group.second[p] = start + std::min(2 * p + 1, count - 1);
        group.rows = std::min({group.rows, columns[group.first[p]].size, columns[group.second[p]].size});
    }
    return group;
}

template <std::size_t Pairs>
void summarise_group(const std::vector<ColumnView>& columns, std::size_t start, std::size_t count,
                     std::vector<FirstPass>& firsts, std::vector<SecondPass>& seconds) {
    const Group<Pairs> group = make_group<Pairs>(columns, start, count);
    first_pass(group, columns, firsts);
    for (std::size_t c = start; c < start + count; ++c) {
        // No mean without cells; 0 keeps the second pass, which adds nothing then, free of 0/0.
        seconds[c].mean = firsts[c].count == 0 ? 0.0 : firsts[c].sum / static_cast<double>(firsts[c].count);
    }
    second_pass(group, columns, seconds);
}

// Up to this many pairs of columns advance together: their registers (sum,
// min, max and count per pair) and the loads' stay within SSE2's sixteen.
constexpr std::size_t kGroupPairs = 3;

ColumnSummary finish(const FirstPass& first, const SecondPass& second) {
    ColumnSummary summary;
    summary.count = first.count;
    summary.mean = second.mean;
    summary.std_dev = first.count == 1 ? 0.0 : std::sqrt(second.squares / static_cast<double>(first.count - 1));
    summary.min = first.min;
    summary.max = first.max;
    return summary;
}

}  // namespace

std::vector<ColumnSummary> summarise_columns(const std::vector<ColumnView>& columns) {
    std::vector<FirstPass> firsts(columns.size());
    std::vector<SecondPass> seconds(columns.size());
    for (std::size_t start = 0; start < columns.size(); start += 2 * kGroupPairs) {
        const std::size_t count = std::min(2 * kGroupPairs, columns.size() - start);
        switch ((count + 1) / 2) {
            case 1:
                summarise_group<1>(columns, start, count, firsts, seconds);
                break;
            case 2:
                summarise_group<2>(columns, start, count, firsts, seconds);
                break;
            default:
                summarise_group<kGroupPairs>(columns, start, count, firsts, seconds);
                break;
        }
    }
    std::vector<ColumnSummary> summaries;
    summaries.reserve(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        summaries.push_back(finish(firsts[c], seconds[c]));
    }
    return summaries;
}

// count_nan and rows_equal_to take the cells in strides of this many, four pairs.
constexpr std::size_t kStride = 8;

std::size_t count_nan(ColumnView column) {
    Counts kept[kStride / 2];
    std::fill(std::begin(kept), std::end(kept), no_counts());
    std::size_t row = 0;
    for (; row + kStride <= column.size; row += kStride) {
        for (std::size_t p = 0; p < kStride / 2; ++p) {
            kept[p] = count_where(kept[p], not_nan(load_along(column.cells + row + 2 * p)));
        }
    }
    std::size_t nan = row;
    for (const Counts counts : kept) {
        nan -= static_cast<std::size_t>(lanes(counts)[0] + lanes(counts)[1]);
    }
    return nan + static_cast<std::size_t>(std::count_if(column.cells + row, column.cells + column.size, is_nan));
}

std::vector<std::size_t> rows_equal_to(ColumnView column, double value) {
    // Every row of a stride is written, and the count moves past the matching
    // ones: no branch on a match, which a tenth of the rows making would
    // mispredict often. The buffer is left uninitialised, so only its pages
    // that receive rows are touched.
    const std::unique_ptr<std::size_t[]> found(new std::size_t[column.size + kStride]);
    std::size_t count = 0;
    const Pair wanted = broadcast(value);
    std::size_t row = 0;
    for (; row + kStride <= column.size; row += kStride) {
        unsigned hits = 0;
        for (std::size_t p = 0; p < kStride / 2; ++p) {
            hits |= mask_bits(equal(load_along(column.cells + row + 2 * p), wanted)) << (2 * p);
        }
        for (std::size_t lane = 0; lane < kStride; ++lane) {
            found[count] = row + lane;
            count += (hits >> lane) & 1U;
        }
    }
    for (; row < column.size; ++row) {
        found[count] = row;
        count += column.cells[row] == value ? 1 : 0;
    }
    return std::vector<std::size_t>(found.get(), found.get() + count);
}

void append_rows(ColumnView column, const std::vector<std::size_t>& rows, std::size_t copies,
                 std::vector<double>& target) {
    const auto end = std::lower_bound(rows.begin(), rows.end(), column.size);
    const std::size_t start = target.size();
    target.resize(start + static_cast<std::size_t>(end - rows.begin()) * copies);
    double* out = target.data() + start;
    if (copies == 1) {
        std::transform(rows.begin(), end, out, [&](std::size_t row) { return column.cells[row]; });
        return;
    }
    for (auto row = rows.begin(); row != end; ++row) {
        out = std::fill_n(out, copies, column.cells[*row]);
    }
}

}  // namespace kernels
