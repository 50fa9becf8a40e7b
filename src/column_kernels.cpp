// describe's two passes, count_nan's count and filter_by's scan and copy, over
// vectors of doubles: several columns side by side in describe (each lane one
// column's chain, in that column's row order), neighbouring cells of one
// column in the compares. The vectors are pairs (SSE2, NEON, or the scalar
// twin), and on x86-64 processors that have AVX2, quads.
//
// The passes read a cache line of rows at a time and ask for the cells some
// way ahead of those they read: the processor's own prefetcher follows a
// stream only within a page, so each new 4 KiB page would otherwise start
// with a wait for memory, on every column at once.

#include "column_kernels.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "target_features.hpp"

namespace kernels {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The doubles of a 64-byte cache line: the passes take the rows a line at a time.
constexpr std::size_t kLineCells = 8;

// How far ahead of the row it reads a pass asks for a column's cells, in
// cells: on each of several streams read together (describe's columns,
// count_nan's stretches), and on one alone (filter_by's scan). On 1M-row
// columns (AMD EPYC, 4 KiB pages) these were the best of 256 bytes to 8 KiB.
constexpr std::size_t kAheadOfEach = 64;
constexpr std::size_t kAheadOfOne = 256;

void prefetch(ColumnView column, std::size_t row, std::size_t ahead) {
    if (row + ahead < column.size) {
        ORVANTIS_PREFETCH(column.cells + row + ahead);
    }
}

// A vector of doubles (Vector), a mask of its lanes where a compare holds
// (Mask) and a 64-bit count per lane (Counts), with the operations the passes
// need. Lane 0 comes from the first column or the lowest address. only(where,
// x) is x where the mask holds and 0.0 elsewhere. load_rows gives two rows of
// kWidth columns: lane i of rows[0] is the cell `row` of column i, of rows[1]
// the cell `row + 1`.
#if defined(ORVANTIS_SSE2)

struct Pairs {
    using Vector = __m128d;
    using Mask = __m128d;
    using Counts = __m128i;
    static constexpr std::size_t kWidth = 2;

    static Vector load(const double* cells) { return _mm_loadu_pd(cells); }
    static void load_rows(const double* const* columns, std::size_t row, Vector (&rows)[2]) {
        const Vector first = _mm_loadu_pd(columns[0] + row);
        const Vector second = _mm_loadu_pd(columns[1] + row);
        rows[0] = _mm_unpacklo_pd(first, second);
        rows[1] = _mm_unpackhi_pd(first, second);
    }
    static Vector broadcast(double x) { return _mm_set1_pd(x); }
    static Vector add(Vector x, Vector y) { return _mm_add_pd(x, y); }
    static Vector subtract(Vector x, Vector y) { return _mm_sub_pd(x, y); }
    static Vector multiply(Vector x, Vector y) { return _mm_mul_pd(x, y); }
    static Mask not_nan(Vector x) { return _mm_cmpord_pd(x, x); }
    static Mask equal(Vector x, Vector y) { return _mm_cmpeq_pd(x, y); }
    static Vector only(Mask where, Vector x) { return _mm_and_pd(where, x); }
    // x > max ? x : max and x < min ? x : min, lane by lane: what MAXPD and MINPD
    // give, their second operand unless the first is greater (or less).
    static Vector greater_of(Vector x, Vector max) { return _mm_max_pd(x, max); }
    static Vector less_of(Vector x, Vector min) { return _mm_min_pd(x, min); }
    static Counts no_counts() { return _mm_setzero_si128(); }
    // A mask lane is all ones, -1 as an integer: subtracting it adds 1.
    static Counts count_where(Counts counts, Mask where) { return _mm_sub_epi64(counts, _mm_castpd_si128(where)); }
    static unsigned mask_bits(Mask where) { return static_cast<unsigned>(_mm_movemask_pd(where)); }
    static void store(Vector x, double* out) { _mm_storeu_pd(out, x); }
    static void store(Counts counts, std::uint64_t* out) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), counts); }
};

#elif defined(ORVANTIS_NEON)

struct Pairs {
    using Vector = float64x2_t;
    using Mask = uint64x2_t;
    using Counts = uint64x2_t;
    static constexpr std::size_t kWidth = 2;

    static Vector load(const double* cells) { return vld1q_f64(cells); }
    static void load_rows(const double* const* columns, std::size_t row, Vector (&rows)[2]) {
        const Vector first = vld1q_f64(columns[0] + row);
        const Vector second = vld1q_f64(columns[1] + row);
        rows[0] = vzip1q_f64(first, second);
        rows[1] = vzip2q_f64(first, second);
    }
    static Vector broadcast(double x) { return vdupq_n_f64(x); }
    static Vector add(Vector x, Vector y) { return vaddq_f64(x, y); }
    static Vector subtract(Vector x, Vector y) { return vsubq_f64(x, y); }
    static Vector multiply(Vector x, Vector y) { return vmulq_f64(x, y); }
    static Mask not_nan(Vector x) { return vceqq_f64(x, x); }
    static Mask equal(Vector x, Vector y) { return vceqq_f64(x, y); }
    static Vector only(Mask where, Vector x) {
        return vreinterpretq_f64_u64(vandq_u64(where, vreinterpretq_u64_f64(x)));
    }
    // Compare and select: FMAX and FMIN order -0.0 below 0.0 and return NaN.
    static Vector greater_of(Vector x, Vector max) { return vbslq_f64(vcgtq_f64(x, max), x, max); }
    static Vector less_of(Vector x, Vector min) { return vbslq_f64(vcltq_f64(x, min), x, min); }
    static Counts no_counts() { return vdupq_n_u64(0); }
    // A mask lane is all ones, -1 modulo 2^64: subtracting it adds 1.
    static Counts count_where(Counts counts, Mask where) { return vsubq_u64(counts, where); }
    static unsigned mask_bits(Mask where) {
        return static_cast<unsigned>((vgetq_lane_u64(where, 0) & 1U) | (vgetq_lane_u64(where, 1) & 2U));
    }
    static void store(Vector x, double* out) { vst1q_f64(out, x); }
    static void store(Counts counts, std::uint64_t* out) { vst1q_u64(out, counts); }
};

#else

// The scalar twin: the same operations on plain doubles, one lane after the other.
struct Pairs {
    struct Vector {
        std::array<double, 2> lane;
    };
    struct Mask {
        std::array<bool, 2> lane;
    };
    struct Counts {
        std::array<std::uint64_t, 2> lane;
    };
    static constexpr std::size_t kWidth = 2;

    template <typename Result, typename Lane>
    static Result lane_by_lane(Lane lane) {
        return Result{{lane(0), lane(1)}};
    }

    static Vector load(const double* cells) { return Vector{{cells[0], cells[1]}}; }
    static void load_rows(const double* const* columns, std::size_t row, Vector (&rows)[2]) {
        rows[0] = Vector{{columns[0][row], columns[1][row]}};
        rows[1] = Vector{{columns[0][row + 1], columns[1][row + 1]}};
    }
    static Vector broadcast(double x) { return Vector{{x, x}}; }
    static Vector add(Vector x, Vector y) {
        return lane_by_lane<Vector>([&](std::size_t i) { return x.lane[i] + y.lane[i]; });
    }
    static Vector subtract(Vector x, Vector y) {
        return lane_by_lane<Vector>([&](std::size_t i) { return x.lane[i] - y.lane[i]; });
    }
    static Vector multiply(Vector x, Vector y) {
        return lane_by_lane<Vector>([&](std::size_t i) { return x.lane[i] * y.lane[i]; });
    }
    static Mask not_nan(Vector x) {
        return lane_by_lane<Mask>([&](std::size_t i) { return x.lane[i] == x.lane[i]; });
    }
    static Mask equal(Vector x, Vector y) {
        return lane_by_lane<Mask>([&](std::size_t i) { return x.lane[i] == y.lane[i]; });
    }
    static Vector only(Mask where, Vector x) {
        return lane_by_lane<Vector>([&](std::size_t i) { return where.lane[i] ? x.lane[i] : 0.0; });
    }
    static Vector greater_of(Vector x, Vector max) {
        return lane_by_lane<Vector>([&](std::size_t i) { return x.lane[i] > max.lane[i] ? x.lane[i] : max.lane[i]; });
    }
    static Vector less_of(Vector x, Vector min) {
        return lane_by_lane<Vector>([&](std::size_t i) { return x.lane[i] < min.lane[i] ? x.lane[i] : min.lane[i]; });
    }
    static Counts no_counts() { return Counts{{0, 0}}; }
    static Counts count_where(Counts counts, Mask where) {
        return lane_by_lane<Counts>([&](std::size_t i) { return counts.lane[i] + (where.lane[i] ? 1U : 0U); });
    }
    static unsigned mask_bits(Mask where) { return (where.lane[0] ? 1U : 0U) | (where.lane[1] ? 2U : 0U); }
    static void store(Vector x, double* out) { std::copy(x.lane.begin(), x.lane.end(), out); }
    static void store(Counts counts, std::uint64_t* out) { std::copy(counts.lane.begin(), counts.lane.end(), out); }
};

#endif

#if defined(ORVANTIS_AVX2)

// Four doubles, as Pairs (SSE2) has two, for the functions compiled for AVX2
// and the templates inlined into them. The registers are wrapped in structs:
// as arguments and results of functions compiled without AVX (the templates,
// before they are inlined), bare 256-bit vectors would change the calling
// convention between those and these.
struct Quads {
    struct Vector {
        __m256d value;
    };
    using Mask = Vector;
    struct Counts {
        __m256i value;
    };
    static constexpr std::size_t kWidth = 4;

    ORVANTIS_TARGET_AVX2 static Vector load(const double* cells) { return {_mm256_loadu_pd(cells)}; }
    // Columns 0 and 2, and 1 and 3, two rows of each, then lane by lane.
    ORVANTIS_TARGET_AVX2 static void load_rows(const double* const* columns, std::size_t row, Vector (&rows)[2]) {
        const __m256d even = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(columns[0] + row)),
                                                  _mm_loadu_pd(columns[2] + row), 1);
        const __m256d odd = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(columns[1] + row)),
                                                 _mm_loadu_pd(columns[3] + row), 1);
        rows[0] = {_mm256_unpacklo_pd(even, odd)};
        rows[1] = {_mm256_unpackhi_pd(even, odd)};
    }
    ORVANTIS_TARGET_AVX2 static Vector broadcast(double x) { return {_mm256_set1_pd(x)}; }
    ORVANTIS_TARGET_AVX2 static Vector add(Vector x, Vector y) { return {_mm256_add_pd(x.value, y.value)}; }
    ORVANTIS_TARGET_AVX2 static Vector subtract(Vector x, Vector y) { return {_mm256_sub_pd(x.value, y.value)}; }
    ORVANTIS_TARGET_AVX2 static Vector multiply(Vector x, Vector y) { return {_mm256_mul_pd(x.value, y.value)}; }
    ORVANTIS_TARGET_AVX2 static Mask not_nan(Vector x) { return {_mm256_cmp_pd(x.value, x.value, _CMP_ORD_Q)}; }
    ORVANTIS_TARGET_AVX2 static Mask equal(Vector x, Vector y) { return {_mm256_cmp_pd(x.value, y.value, _CMP_EQ_OQ)}; }
    ORVANTIS_TARGET_AVX2 static Vector only(Mask where, Vector x) { return {_mm256_and_pd(where.value, x.value)}; }
    // VMAXPD and VMINPD: as MAXPD and MINPD.
    ORVANTIS_TARGET_AVX2 static Vector greater_of(Vector x, Vector max) { return {_mm256_max_pd(x.value, max.value)}; }
    ORVANTIS_TARGET_AVX2 static Vector less_of(Vector x, Vector min) { return {_mm256_min_pd(x.value, min.value)}; }
    ORVANTIS_TARGET_AVX2 static Counts no_counts() { return {_mm256_setzero_si256()}; }
    ORVANTIS_TARGET_AVX2 static Counts count_where(Counts counts, Mask where) {
        return {_mm256_sub_epi64(counts.value, _mm256_castpd_si256(where.value))};
    }
    ORVANTIS_TARGET_AVX2 static unsigned mask_bits(Mask where) {
        return static_cast<unsigned>(_mm256_movemask_pd(where.value));
    }
    ORVANTIS_TARGET_AVX2 static void store(Vector x, double* out) { _mm256_storeu_pd(out, x.value); }
    ORVANTIS_TARGET_AVX2 static void store(Counts counts, std::uint64_t* out) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), counts.value);
    }
};

// Whether this processor (and its operating system) runs AVX2 code; asked once.
bool has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

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

// The columns that advance together, Lanes::kWidth to a vector: lane i is
// column `first + i`, or the group's last column again where the group has
// fewer columns than lanes (such lanes agree with it).
template <typename Lanes, std::size_t Vectors>
struct Group {
    static constexpr std::size_t kLanes = Lanes::kWidth * Vectors;
    std::size_t first = 0;
    std::size_t count = 0;  // columns, from `first`
    std::array<const double*, kLanes> cells{};
    std::size_t rows = 0;  // whole lines of rows that every column of the group has

    Group(const std::vector<ColumnView>& columns, std::size_t first_column, std::size_t column_count)
        : first(first_column), count(column_count) {
        std::size_t common = columns[first].size;
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const ColumnView column = columns[first + std::min(lane, count - 1)];
            cells[lane] = column.cells;
            common = std::min(common, column.size);
        }
        rows = common - common % kLineCells;
    }

    void prefetch_lines(const std::vector<ColumnView>& columns, std::size_t row) const {
        for (std::size_t c = first; c < first + count; ++c) {
            prefetch(columns[c], row, kAheadOfEach);
        }
    }
};

// Row after row over the group's common rows, each lane the FirstPass of its
// column; then each column alone over the rest of its rows. A NaN cell adds
// 0.0 to its lane's sum where the plain loop skips it, with the same result:
// a running sum that starts at 0.0 is never -0.0 (x + -x is 0.0) except when
// rounding downwards, where -0.0 + 0.0 is -0.0 too; so adding 0.0 changes no
// sum, as long as subnormal inputs are not read as zero (the x86 DAZ flag,
// which C++ and Python leave off) while subnormal results are kept.
template <typename Lanes, std::size_t Vectors>
ORVANTIS_ALWAYS_INLINE void first_pass(const Group<Lanes, Vectors>& group, const std::vector<ColumnView>& columns,
                                       std::vector<FirstPass>& passes) {
    using Vector = typename Lanes::Vector;
    Vector sum[Vectors];
    Vector min[Vectors];
    Vector max[Vectors];
    typename Lanes::Counts count[Vectors];
    for (std::size_t v = 0; v < Vectors; ++v) {
        sum[v] = Lanes::broadcast(0.0);
        min[v] = Lanes::broadcast(kInfinity);
        max[v] = Lanes::broadcast(-kInfinity);
        count[v] = Lanes::no_counts();
    }
    for (std::size_t line = 0; line < group.rows; line += kLineCells) {
        group.prefetch_lines(columns, line);
        for (std::size_t row = line; row < line + kLineCells; row += 2) {
            for (std::size_t v = 0; v < Vectors; ++v) {
                Vector rows[2];
                Lanes::load_rows(&group.cells[v * Lanes::kWidth], row, rows);
                for (const Vector x : rows) {
                    const typename Lanes::Mask kept = Lanes::not_nan(x);
                    count[v] = Lanes::count_where(count[v], kept);
                    sum[v] = Lanes::add(sum[v], Lanes::only(kept, x));
                    max[v] = Lanes::greater_of(x, max[v]);
                    min[v] = Lanes::less_of(x, min[v]);
                }
            }
        }
    }
    std::array<std::uint64_t, Group<Lanes, Vectors>::kLanes> counts{};
    std::array<double, Group<Lanes, Vectors>::kLanes> sums{};
    std::array<double, Group<Lanes, Vectors>::kLanes> mins{};
    std::array<double, Group<Lanes, Vectors>::kLanes> maxes{};
    for (std::size_t v = 0; v < Vectors; ++v) {
        Lanes::store(count[v], &counts[v * Lanes::kWidth]);
        Lanes::store(sum[v], &sums[v * Lanes::kWidth]);
        Lanes::store(min[v], &mins[v * Lanes::kWidth]);
        Lanes::store(max[v], &maxes[v * Lanes::kWidth]);
    }
    for (std::size_t lane = 0; lane < group.count; ++lane) {
        FirstPass& pass = passes[group.first + lane];
        pass.count = static_cast<std::size_t>(counts[lane]);
        pass.sum = sums[lane];
        pass.min = mins[lane];
        pass.max = maxes[lane];
        const ColumnView column = columns[group.first + lane];
        std::for_each(column.cells + group.rows, column.cells + column.size, [&](double x) { pass.take(x); });
    }
}

// As first_pass, for the squared deviations.
template <typename Lanes, std::size_t Vectors>
ORVANTIS_ALWAYS_INLINE void second_pass(const Group<Lanes, Vectors>& group, const std::vector<ColumnView>& columns,
                                        std::vector<SecondPass>& passes) {
    using Vector = typename Lanes::Vector;
    std::array<double, Group<Lanes, Vectors>::kLanes> means{};
    for (std::size_t lane = 0; lane < means.size(); ++lane) {
        means[lane] = passes[group.first + std::min(lane, group.count - 1)].mean;
    }
    Vector mean[Vectors];
    Vector squares[Vectors];
    for (std::size_t v = 0; v < Vectors; ++v) {
        mean[v] = Lanes::load(&means[v * Lanes::kWidth]);
        squares[v] = Lanes::broadcast(0.0);
    }
    for (std::size_t line = 0; line < group.rows; line += kLineCells) {
        group.prefetch_lines(columns, line);
        for (std::size_t row = line; row < line + kLineCells; row += 2) {
            for (std::size_t v = 0; v < Vectors; ++v) {
                Vector rows[2];
                Lanes::load_rows(&group.cells[v * Lanes::kWidth], row, rows);
                for (const Vector x : rows) {
                    const Vector deviation = Lanes::subtract(x, mean[v]);
                    squares[v] =
                        Lanes::add(squares[v], Lanes::only(Lanes::not_nan(x), Lanes::multiply(deviation, deviation)));
                }
            }
        }
    }
    std::array<double, Group<Lanes, Vectors>::kLanes> sums{};
    for (std::size_t v = 0; v < Vectors; ++v) {
        Lanes::store(squares[v], &sums[v * Lanes::kWidth]);
    }
    for (std::size_t lane = 0; lane < group.count; ++lane) {
        SecondPass& pass = passes[group.first + lane];
        pass.squares = sums[lane];
        const ColumnView column = columns[group.first + lane];
        std::for_each(column.cells + group.rows, column.cells + column.size, [&](double x) { pass.take(x); });
    }
}

template <typename Lanes, std::size_t Vectors>
ORVANTIS_ALWAYS_INLINE void summarise_group(const std::vector<ColumnView>& columns, std::size_t first,
                                            std::size_t count, std::vector<FirstPass>& firsts,
                                            std::vector<SecondPass>& seconds) {
    const Group<Lanes, Vectors> group(columns, first, count);
    first_pass(group, columns, firsts);
    for (std::size_t c = first; c < first + count; ++c) {
        // No mean without cells; 0 keeps the second pass, which adds nothing then, free of 0/0.
        seconds[c].mean = firsts[c].count == 0 ? 0.0 : firsts[c].sum / static_cast<double>(firsts[c].count);
    }
    second_pass(group, columns, seconds);
}

// Groups of up to Vectors vectors' worth of columns, the last one narrowed to
// the vectors its columns fill. Three pairs, or two quads: their registers
// (sum, min, max and count per vector) and the loads' stay within the sixteen
// that SSE2 and AVX2 have.
template <typename Lanes, std::size_t Vectors>
ORVANTIS_ALWAYS_INLINE void summarise_groups(const std::vector<ColumnView>& columns, std::size_t first,
                                             std::vector<FirstPass>& firsts, std::vector<SecondPass>& seconds) {
    constexpr std::size_t kColumns = Lanes::kWidth * Vectors;
    for (; columns.size() - first >= kColumns; first += kColumns) {
        summarise_group<Lanes, Vectors>(columns, first, kColumns, firsts, seconds);
    }
    if constexpr (Vectors > 1) {
        if (columns.size() - first > Lanes::kWidth * (Vectors - 1)) {
            summarise_group<Lanes, Vectors>(columns, first, columns.size() - first, firsts, seconds);
        } else {
            summarise_groups<Lanes, Vectors - 1>(columns, first, firsts, seconds);
        }
    } else if (first < columns.size()) {
        summarise_group<Lanes, 1>(columns, first, columns.size() - first, firsts, seconds);
    }
}

#if defined(ORVANTIS_AVX2)
ORVANTIS_TARGET_AVX2 void summarise_with_quads(const std::vector<ColumnView>& columns, std::vector<FirstPass>& firsts,
                                               std::vector<SecondPass>& seconds) {
    summarise_groups<Quads, 2>(columns, 0, firsts, seconds);
}
#endif

// Both passes over every column, in quads where the processor has AVX2, else in pairs.
void summarise_all(const std::vector<ColumnView>& columns, std::vector<FirstPass>& firsts,
                   std::vector<SecondPass>& seconds) {
#if defined(ORVANTIS_AVX2)
    if (has_avx2()) {
        summarise_with_quads(columns, firsts, seconds);
        return;
    }
#endif
    summarise_groups<Pairs, 3>(columns, 0, firsts, seconds);
}

ColumnSummary finish(const FirstPass& first, const SecondPass& second) {
    ColumnSummary summary;
    summary.count = first.count;
    summary.mean = second.mean;
    summary.std_dev = first.count == 1 ? 0.0 : std::sqrt(second.squares / static_cast<double>(first.count - 1));
    summary.min = first.min;
    summary.max = first.max;
    return summary;
}

// count_nan and rows_equal_to's scan take a line of cells at a time.
// count_nan reads its column as this many stretches of whole lines at once, a
// line of each in turn, then the cells after them one by one: a count does not
// depend on the order of the cells, and several streams keep more reads from
// memory in flight than one.
constexpr std::size_t kStretches = 4;

template <typename Lanes>
ORVANTIS_ALWAYS_INLINE std::size_t count_nan_in(ColumnView column) {
    const std::size_t stretch = column.size / kStretches / kLineCells * kLineCells;
    typename Lanes::Counts kept[kStretches];
    for (typename Lanes::Counts& counts : kept) {
        counts = Lanes::no_counts();
    }
    for (std::size_t line = 0; line < stretch; line += kLineCells) {
        for (std::size_t s = 0; s < kStretches; ++s) {
            const std::size_t row = s * stretch + line;
            prefetch(column, row, kAheadOfEach);
            for (std::size_t cell = 0; cell < kLineCells; cell += Lanes::kWidth) {
                kept[s] = Lanes::count_where(kept[s], Lanes::not_nan(Lanes::load(column.cells + row + cell)));
            }
        }
    }
    std::size_t nan = kStretches * stretch;
    for (const typename Lanes::Counts counts : kept) {
        std::array<std::uint64_t, Lanes::kWidth> lanes{};
        Lanes::store(counts, lanes.data());
        for (const std::uint64_t lane : lanes) {
            nan -= static_cast<std::size_t>(lane);
        }
    }
    return nan + static_cast<std::size_t>(
                     std::count_if(column.cells + kStretches * stretch, column.cells + column.size, is_nan));
}

// For each mask of a line's matching cells (bit i for cell i), where the
// matches are, in ascending order, and how many. Held as full-width counts, the
// offsets become the line's rows with one vector addition (and store) or two.
struct LineMatches {
    std::array<std::size_t, kLineCells> cells{};
    std::size_t count = 0;
};

constexpr std::array<LineMatches, 1U << kLineCells> line_matches() {
    std::array<LineMatches, 1U << kLineCells> by_mask{};
    for (std::size_t mask = 0; mask < by_mask.size(); ++mask) {
        for (std::size_t cell = 0; cell < kLineCells; ++cell) {
            if (((mask >> cell) & 1U) != 0) {
                by_mask[mask].cells[by_mask[mask].count++] = cell;
            }
        }
    }
    return by_mask;
}

constexpr std::array<LineMatches, 1U << kLineCells> kLineMatches = line_matches();

template <typename Lanes>
ORVANTIS_ALWAYS_INLINE std::vector<std::size_t> rows_equal_in(ColumnView column, double value) {
    // A line's matching rows are written as a whole line's worth, from its
    // mask's entry in kLineMatches, and the count moves past the matches: no
    // branch on a match, which a tenth of the rows making would mispredict
    // often, and no chain of additions from one row to the next. The buffer is
    // left uninitialised, so only its pages that receive rows are touched.
    // (Read as stretches, as count_nan reads, the scan was no faster.)
    const std::unique_ptr<std::size_t[]> found(new std::size_t[column.size + kLineCells]);
    std::size_t count = 0;
    const typename Lanes::Vector wanted = Lanes::broadcast(value);
    std::size_t row = 0;
    for (; row + kLineCells <= column.size; row += kLineCells) {
        prefetch(column, row, kAheadOfOne);
        unsigned hits = 0;
        for (std::size_t cell = 0; cell < kLineCells; cell += Lanes::kWidth) {
            hits |= Lanes::mask_bits(Lanes::equal(Lanes::load(column.cells + row + cell), wanted)) << cell;
        }
        const LineMatches& matches = kLineMatches[hits];
        for (std::size_t i = 0; i < kLineCells; ++i) {
            found[count + i] = row + matches.cells[i];
        }
        count += matches.count;
    }
    for (; row < column.size; ++row) {
        found[count] = row;
        count += column.cells[row] == value ? 1 : 0;
    }
    return std::vector<std::size_t>(found.get(), found.get() + count);
}

#if defined(ORVANTIS_AVX2)
ORVANTIS_TARGET_AVX2 std::size_t count_nan_with_quads(ColumnView column) { return count_nan_in<Quads>(column); }
ORVANTIS_TARGET_AVX2 std::vector<std::size_t> rows_equal_with_quads(ColumnView column, double value) {
    return rows_equal_in<Quads>(column, value);
}
#endif

// filter_by's copy of the selected rows: a column's cells at those rows
// (`rows` of them: the rows that the column has), to `out`, in place.
struct Gathered {
    const double* cells = nullptr;
    std::size_t rows = 0;
    double* out = nullptr;
};

// Room in the target for the copy's cells, `copies` to a row.
Gathered make_room(const RowCopy& copy, const std::vector<std::size_t>& rows) {
    Gathered gathered;
    gathered.cells = copy.column.cells;
    gathered.rows =
        static_cast<std::size_t>(std::lower_bound(rows.begin(), rows.end(), copy.column.size) - rows.begin());
    std::vector<double>& target = *copy.target;
    const std::size_t start = target.size();
    target.resize(start + gathered.rows * copy.copies);
    gathered.out = target.data() + start;
    return gathered;
}

// Up to this many columns are copied row by row together, as that many
// streams from memory, which keep more reads in flight than one.
constexpr std::size_t kGatheredTogether = 4;

// Columns [0, count) of `columns` (count at most kGatheredTogether), one cell
// each per row; then each alone over the rows that only it has.
void gather_together(const Gathered* columns, std::size_t count, const std::vector<std::size_t>& rows) {
    std::array<Gathered, kGatheredTogether> lanes{};
    std::size_t common = rows.size();
    for (std::size_t lane = 0; lane < kGatheredTogether; ++lane) {
        // A lane past the group's columns repeats its last one: the same cells to the same place.
        lanes[lane] = columns[std::min(lane, count - 1)];
        common = std::min(common, lanes[lane].rows);
    }
    for (std::size_t i = 0; i < common; ++i) {
        const std::size_t row = rows[i];
        for (const Gathered& lane : lanes) {
            lane.out[i] = lane.cells[row];
        }
    }
    for (std::size_t lane = 0; lane < count; ++lane) {
        for (std::size_t i = common; i < columns[lane].rows; ++i) {
            columns[lane].out[i] = columns[lane].cells[rows[i]];
        }
    }
}

}  // namespace

std::vector<ColumnSummary> summarise_columns(const std::vector<ColumnView>& columns) {
    std::vector<FirstPass> firsts(columns.size());
    std::vector<SecondPass> seconds(columns.size());
    summarise_all(columns, firsts, seconds);
    std::vector<ColumnSummary> summaries;
    summaries.reserve(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        summaries.push_back(finish(firsts[c], seconds[c]));
    }
    return summaries;
}

std::size_t count_nan(ColumnView column) {
#if defined(ORVANTIS_AVX2)
    if (has_avx2()) {
        return count_nan_with_quads(column);
    }
#endif
    return count_nan_in<Pairs>(column);
}

std::vector<std::size_t> rows_equal_to(ColumnView column, double value) {
#if defined(ORVANTIS_AVX2)
    if (has_avx2()) {
        return rows_equal_with_quads(column, value);
    }
#endif
    return rows_equal_in<Pairs>(column, value);
}

void append_rows(const std::vector<RowCopy>& copies, const std::vector<std::size_t>& rows) {
    std::vector<Gathered> single;
    for (const RowCopy& copy : copies) {
        const Gathered gathered = make_room(copy, rows);
        if (copy.known) {
            std::fill_n(gathered.out, gathered.rows * copy.copies, *copy.known);
        } else if (copy.copies == 1) {
            single.push_back(gathered);
        } else {
            for (std::size_t i = 0; i < gathered.rows; ++i) {
                std::fill_n(gathered.out + i * copy.copies, copy.copies, gathered.cells[rows[i]]);
            }
        }
    }
    for (std::size_t first = 0; first < single.size(); first += kGatheredTogether) {
        gather_together(&single[first], std::min(kGatheredTogether, single.size() - first), rows);
    }
}

}  // namespace kernels
