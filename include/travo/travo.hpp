/// @file travo.hpp
/// travo: test functions for global optimisation with known minima.
///
/// C++ interface. A travo::Member is one generated member of the test class,
/// held as an immutable value: copies share the same tables, any number of
/// members live side by side, and every evaluation is const and safe to run
/// from many threads at once. Results carry the same bits as the module-wide
/// C interface of travo.h for the same parameters.
///
/// @code{.cpp}
///     travo::Parameters p;            // 2-D, 10 minima, box [-1, 1]^2
///     p.num_minima = 50;
///     p.test_number = 7;
///     const travo::Member f = travo::generate(p);   // throws travo::Error
///     const double x[2] = {0.1, -0.2};
///     double g[2];
///     const double v = f.value_and_gradient(travo::Kind::D2, x, g);
/// @endcode
#ifndef TRAVO_TRAVO_HPP
#define TRAVO_TRAVO_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <travo/export.h>

namespace travo {

/// Value returned by an evaluation that cannot evaluate (a point more than
/// 1e-10 outside the box), as in the C interface.
inline constexpr double error_value = 1e+100;

/// Smallest dimension a member can have.
inline constexpr std::uint32_t min_dimension = 2;
/// Largest dimension a member can have.
inline constexpr std::uint32_t max_dimension = 1008;

/// The three kinds of member: non-differentiable, continuously
/// differentiable, twice continuously differentiable.
enum class Kind { ND, D, D2 };

/// Kind names are written in capitals, "ND", "D" and "D2", and read in any
/// case, by every interface.
TRAVO_API std::string_view kind_name(Kind kind) noexcept;
/// The kind a name gives ("d2" and "D2" give D2); empty for any other text.
TRAVO_API std::optional<Kind> parse_kind(std::string_view name) noexcept;

/// Generator statuses; the numbers are those of TravoStatus in travo.h.
enum class Status : int {
    ok = 0,
    bad_dimension = 1,
    bad_minima_count = 2,
    bad_test_number = 3,
    bad_domain = 4,
    bad_global_value = 5,
    bad_global_distance = 6,
    bad_global_radius = 7,
    no_memory = 8,
    bad_derivative = 9,
    parabola_coincidence = 14,
    minima_coincidence = 15,
    no_global_minimum = 16,
};

/// Short name of a status, such as "bad global distance".
TRAVO_API std::string_view status_name(Status status) noexcept;

/// Generation refused: the status and the rule that the parameters broke,
/// with the values involved. what() reads "status 6 (bad global distance):
/// <rule>".
class TRAVO_API Error : public std::runtime_error {
public:
    /// An error of `status` for the broken `rule`.
    Error(Status status, const std::string &rule);
    /// The library status of the refusal.
    Status status() const noexcept { return status_; }
    /// The rule the parameters broke, with the values involved.
    const std::string &rule() const noexcept { return rule_; }

private:
    Status status_;
    std::string rule_;
};

/// Generation stopped because its progress function returned false.
class TRAVO_API GenerationAbandoned : public std::runtime_error {
public:
    GenerationAbandoned();
};

/// Told now and then, during a generation, the share of the work done (0 to
/// 1, never decreasing but for a rare re-placement of the minimizers);
/// returning false abandons the generation. It is called on the thread that
/// generates, at least every few milliseconds of work in all but the
/// slowest members (between rows of the tables, and within the long steps
/// that count none: allocating the rows, sorting them, building the trees
/// and the region index).
using GenerationProgress = std::function<bool(double fraction)>;

/// A batch form stopped because its progress function returned false.
class TRAVO_API BatchAbandoned : public std::runtime_error {
public:
    BatchAbandoned();
};

/// Told now and then, during a batch, the share of its points evaluated (0
/// to 1); returning false stops the batch. It is called on the thread that
/// called the batch form only, about every two milliseconds of work while
/// that thread evaluates its own points and while it waits for the threads
/// it started; never for an empty batch. An empty function costs nothing: the
/// points are then taken in one piece per thread.
using BatchProgress = std::function<bool(double fraction)>;

/// Everything that fixes a member. The defaults are the library's: dimension
/// 2, 10 minima, global value -1, distance 2/3, radius 1/3, box [-1, 1] in
/// every coordinate, test number 1. `lower` and `upper` hold one bound per
/// coordinate, `dim` of each.
struct TRAVO_API Parameters {
    std::uint32_t dim = 2;                  ///< dimension n, 2 to 1008
    std::uint32_t num_minima = 10;          ///< number of minima m, the paraboloid vertex included
    double global_value = -1.0;             ///< global minimum value, below -1e-10
    double distance = 2.0 / 3.0;            ///< from the paraboloid vertex to the global minimizer
    double radius = 1.0 / 3.0;              ///< of the global minimizer's attraction region
    std::vector<double> lower{-1.0, -1.0};  ///< lower bounds of the box, one per coordinate
    std::vector<double> upper{1.0, 1.0};    ///< upper bounds of the box, one per coordinate
    std::int32_t test_number = 1;           ///< test number, 1 to 100

    /// The parameters a caller chose; a field left empty takes the library's
    /// default, as resolve() derives it.
    struct Given {
        std::optional<std::uint32_t> dim;          ///< dimension
        std::optional<std::uint32_t> num_minima;   ///< number of minima
        std::optional<double> global_value;        ///< global minimum value
        std::optional<double> distance;            ///< distance of the global minimizer from the vertex
        std::optional<double> radius;              ///< radius of the global minimizer's region
        std::optional<std::vector<double>> lower;  ///< one bound per coordinate, or one for all
        std::optional<std::vector<double>> upper;  ///< one bound per coordinate, or one for all
        std::optional<std::int32_t> test_number;   ///< test number
    };

    /// The one place where what a caller left out is derived; every interface
    /// (C, C++, Python, Octave, the tool, suite files) goes through it:
    /// - dim: as given, else the number of bounds given (the larger count),
    ///   at least 2;
    /// - lower, upper: as given, a single bound standing for every coordinate;
    ///   else -1 and 1 in every coordinate;
    /// - distance: the shortest side of the box divided by 3;
    /// - radius: half the distance, or the double just below it where half
    ///   would be refused (boxes wider than about 1e6, beside which the
    ///   tolerance of 1e-10 vanishes);
    /// - 10 minima, global value -1, test number 1.
    /// Only what the derivation needs is checked here: Error (bad_dimension)
    /// for a dimension outside 2..1008, (bad_domain) for bounds of neither
    /// one nor `dim` entries. generate() checks the rest.
    static Parameters resolve(const Given &given);

    /// resolve() of a box [lo, hi]^dim, or of the given box.
    static Parameters in_cube(std::uint32_t dim, double lo = -1.0, double hi = 1.0);
    /// Throws Error (bad_domain) when the two differ in length, and
    /// (bad_dimension) for fewer than 2 or more than 1008 bounds.
    static Parameters in_box(std::vector<double> lower, std::vector<double> upper);
};

/// One generated member of the test class. Row 0 of its minima table is the
/// paraboloid vertex, row 1 the global minimizer given by the parameters,
/// rows 2..m-1 the other local minimizers.
///
/// Points are spans of dim() coordinates; a span of another length throws
/// std::invalid_argument, as does an output span of the wrong length. A point
/// more than 1e-10 outside the box, or with a NaN coordinate, lies outside:
/// it evaluates to error_value (gradients and Hessians are then filled with
/// error_value and the call returns false) and in no region. (The module-wide
/// C interface of travo.h evaluates a NaN point as it always has.)
/// Batch forms take `count` points stored one after another (count * dim()
/// coordinates) and write `count` results in the same order.
///
/// A member moved from may only be assigned to or destroyed; any other use
/// throws std::logic_error.
class TRAVO_API Member {
public:
    /// The dimension n.
    std::uint32_t dim() const;
    /// The number of minima m, the paraboloid vertex included.
    std::uint32_t num_minima() const;
    /// The parameters the member was generated from.
    const Parameters &parameters() const;

    /// Coefficient of the D2 kind, in [0, 10).
    double delta() const;

    /// The value at each minimizer of the minima table, num_minima()
    /// entries.
    std::span<const double> minimum_values() const;
    /// The radius of each minimizer's attraction region, num_minima()
    /// entries.
    std::span<const double> radii() const;
    /// The coordinates of the minimizer of one row; std::out_of_range for a
    /// row beyond the table.
    std::span<const double> minimizer(std::size_t row) const;

    /// Rows whose value equals the global value (within 1e-10), increasing.
    std::span<const std::uint32_t> global_minimizers() const;

    /// Whether the point lies in the box or within 1e-10 of it (false for a
    /// NaN coordinate), that is whether it evaluates to something other than
    /// error_value.
    bool contains(std::span<const double> x) const;

    /// Row of the minima table (1..num_minima()-1) whose attraction region
    /// holds the point, or -1 when the point lies in no region (on the
    /// paraboloid) or outside the box. Where regions touch,
    /// the lowest row wins, as in evaluation.
    std::int64_t region(std::span<const double> x) const;

    /// Value of a kind. One region lookup per call, as for every operation
    /// below.
    double value(Kind kind, std::span<const double> x) const;

    /// Gradient of the D or D2 kind (ND throws std::invalid_argument) into
    /// g[0..dim-1]. Returns false when some component is error_value.
    bool gradient(Kind kind, std::span<const double> x, std::span<double> g) const;
    /// The gradient as above, in a new vector.
    std::vector<double> gradient(Kind kind, std::span<const double> x) const;

    /// Value and gradient (D or D2) from the same lookup; returns the value.
    double value_and_gradient(Kind kind, std::span<const double> x, std::span<double> g) const;

    /// Hessian of the D2 kind, row by row: h[i * dim + j] holds the second
    /// derivative along coordinates i and j (from 0). Returns false when some
    /// entry is error_value.
    bool hessian(std::span<const double> x, std::span<double> h) const;
    /// The Hessian as above, in a new vector.
    std::vector<double> hessian(std::span<const double> x) const;

    /// Batch forms: `points` holds count * dim() coordinates; `out` holds
    /// count values, count * dim() gradient components, or count * dim() *
    /// dim() Hessian entries. Each result has the bits of the single-point
    /// form at that point.
    ///
    /// `threads`: 0 spreads a large batch over the threads that the hardware
    /// runs at once (std::thread::hardware_concurrency()), each evaluating a
    /// contiguous slice of the points, and keeps a small one on the calling
    /// thread; k > 0 uses k threads, but no more than the hardware runs at
    /// once (where it does not tell, no more than give each thread as much
    /// work as the automatic choice does) nor one per point; 1 only the
    /// calling thread. The results are the same for every number of threads.
    ///
    /// `progress` (see BatchProgress) lets the caller stop a long batch: when
    /// it returns false, every thread stops after the points it is on and
    /// BatchAbandoned is thrown; an exception it throws leaves likewise. The
    /// outputs then hold the results of some points and are unchanged
    /// elsewhere. An exception in any thread of a batch (std::bad_alloc) is
    /// rethrown on the calling thread once the others have stopped.
    void values(Kind kind, std::span<const double> points, std::span<double> out, unsigned threads = 0,
                const BatchProgress &progress = {}) const;
    /// Gradients (D or D2) at the points, one after another (batch form;
    /// see values()).
    void gradients(Kind kind, std::span<const double> points, std::span<double> out, unsigned threads = 0,
                   const BatchProgress &progress = {}) const;
    /// Values and gradients (D or D2) at the points (batch form; see
    /// values()).
    void values_and_gradients(Kind kind, std::span<const double> points, std::span<double> values_out,
                              std::span<double> gradients_out, unsigned threads = 0,
                              const BatchProgress &progress = {}) const;
    /// Hessians of the D2 kind at the points, each row by row (batch form;
    /// see values()).
    void hessians(std::span<const double> points, std::span<double> out, unsigned threads = 0,
                  const BatchProgress &progress = {}) const;
    /// Region of each point, as region() gives it; `out` holds count rows.
    void regions(std::span<const double> points, std::span<std::int64_t> out, unsigned threads = 0,
                 const BatchProgress &progress = {}) const;

private:
    struct Impl;
    explicit Member(std::shared_ptr<const Impl> impl) noexcept : impl_(std::move(impl)) {}
    friend TRAVO_API Member generate(const Parameters &params, const GenerationProgress &progress, unsigned threads);

    // The state of a member not moved from.
    const Impl &impl() const {
        if (!impl_) moved_from();
        return *impl_;
    }
    [[noreturn]] static void moved_from();

    std::shared_ptr<const Impl> impl_;
};

/// Whether a point counts as a global minimizer of a member. One test for
/// every interface (the tool's locate, the Python package's solved() and the
/// hits of its benchmarking campaigns), by one of three rules:
/// - box, the class rule of benchmarking: every coordinate i lies within
///   accuracy^(1/n) * (upper[i] - lower[i]) of the same global minimizer;
/// - distance: the Euclidean distance to a global minimizer is at most the
///   tolerance;
/// - value: the value of the kind is at most the global value + tolerance.
/// A point more than 1e-10 outside the box (or with a NaN coordinate) is
/// never solved. The test keeps a copy of the member (copies share it).
class TRAVO_API SolvedRule {
public:
    /// The three rules.
    enum class Rule { box, distance, value };

    /// The box rule of a class of accuracy `accuracy`. Throws
    /// std::invalid_argument for an accuracy outside (0, 1).
    static SolvedRule box(const Member &f, double accuracy);
    /// The distance rule. Throws std::invalid_argument for a tolerance that
    /// is negative or NaN.
    static SolvedRule distance(const Member &f, double tolerance);
    /// The value rule for a kind. Throws std::invalid_argument for a
    /// tolerance that is negative or NaN.
    static SolvedRule value(const Member &f, Kind kind, double tolerance);

    /// Whether the point is solved. A span of another length than the
    /// member's dimension throws std::invalid_argument.
    bool operator()(std::span<const double> x) const;

    /// The same for a point known to lie in the box (one whose value is not
    /// error_value), without looking up its region again.
    bool meets_in_box(std::span<const double> x) const;

    /// The rule this test applies.
    Rule rule() const noexcept { return rule_; }

private:
    SolvedRule(const Member &f, Rule rule, Kind kind, double tolerance);

    Member member_;
    Rule rule_;
    Kind kind_;
    double tolerance_;
    std::vector<double> limits_;   // box: the largest gap in each coordinate
    std::vector<double> targets_;  // the global minimizers, one after another
};

/// Generates the member fixed by `params`. Throws Error naming the status and
/// the broken rule when the parameters are refused, in the order the library
/// checks them: test number, dimension, minima count, box, global value,
/// distance, radius; then memory, and a global value that no minimizer takes
/// (NaN). Running out of memory anywhere is Error with Status::no_memory.
TRAVO_API Member generate(const Parameters &params);

/// The same, telling `progress` (when it is not empty) how far the generation
/// has come. When it returns false, everything taken is released and
/// GenerationAbandoned is thrown; an exception it throws leaves generate
/// likewise. Without a progress function generation costs nothing more.
TRAVO_API Member generate(const Parameters &params, const GenerationProgress &progress);

/// The same on `threads` threads: the sizing of the regions of a large member
/// is shared among them. 0 takes as many as the hardware runs at once
/// (std::thread::hardware_concurrency()) for a member large enough to gain
/// from them, and the calling thread alone for a smaller one; k > 0 takes k,
/// but no more than the hardware runs at once; 1 only the calling thread.
/// The member is the same for every number of threads, and `progress` is
/// only ever called on the calling thread. generate(params, progress) is
/// generate(params, progress, 0).
TRAVO_API Member generate(const Parameters &params, const GenerationProgress &progress, unsigned threads);

/// Library version, "major.minor.patch".
TRAVO_API std::string_view version() noexcept;

}  // namespace travo

#endif  // TRAVO_TRAVO_HPP
