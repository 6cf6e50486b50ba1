// travo._travo.Observed: a member and a kind wrapped for one run of an
// optimiser.
//
// An observed run counts the values, gradients and Hessians it hands
// out, charges each point to a budget (value 1, gradient n, Hessian
// n(n+1)/2, in value evaluations) and refuses what would overrun it with
// BudgetExhausted, keeps the best point and value seen so far, and notes the
// cost at which each target is first met: the class's box rule (every
// coordinate within delta^(1/n) times the box side of a global minimizer)
// and the value targets f* + 10^k.
//
// The bookkeeping lives here rather than in Python so that an observed call
// costs little more than a bare one. Calls from several threads take turns
// (see Turn), so that the books come out as if they had been made one after
// another.
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bindings.hpp"

namespace travo::python {

namespace {

struct BudgetExhausted : std::exception {
    const char *what() const noexcept override { return "the run's budget is exhausted"; }
};

// One entry per improvement of the best value: the counters after the point
// that improved it, and the new best value.
struct TraceEntry {
    std::uint64_t cost, values, gradients, hessians;
    double best;
};

py::object optional_int(const std::optional<std::uint64_t> &v) {
    return v ? py::object(py::int_(*v)) : py::object(py::none());
}

class Observed {
public:
    Observed(py::object member, py::handle kind, std::optional<std::uint64_t> budget, double accuracy,
             std::vector<int> exponents)
        : owner_(std::move(member)),
          member_(member_of(owner_)),
          kind_(read_kind(kind)),
          n_(member_.dim()),
          budget_(budget),
          exponents_(std::move(exponents)),
          box_rule_(SolvedRule::box(member_, accuracy)) {
        const Parameters &p = member_.parameters();
        // From the loosest target to the tightest, so that a falling best
        // value meets them in order.
        std::sort(exponents_.begin(), exponents_.end(), std::greater<int>());
        exponents_.erase(std::unique(exponents_.begin(), exponents_.end()), exponents_.end());
        for (const int k : exponents_) levels_.push_back(p.global_value + std::pow(10.0, k));
        level_hits_.assign(levels_.size(), std::nullopt);
        best_point_.assign(n_, 0.0);
    }

    // Value at a point (n,) as a float, or values at points (..., n).
    py::object value(py::handle x) {
        Points p = read_points(x, n_);
        if (p.single) {
            const Turn turn(*this);
            charge(1);
            ++values_;
            const double f = member_.value(kind_, p.coordinates());
            note(p.data, f);
            return py::float_(f);
        }
        py::array_t<double> out(p.shape);
        double *o = out.mutable_data();
        const Turn turn(*this);
        const std::size_t fit = affordable(p.count, 1);
        without_gil([&](const BatchProgress &progress) {
            member_.values(kind_, {p.data, fit * n_}, {o, fit}, 1, progress);
        });
        for (std::size_t k = 0; k < fit; ++k) {
            cost_ += 1;
            ++values_;
            note(p.data + k * n_, out.data()[k]);
        }
        if (fit < p.count) throw BudgetExhausted();
        return out;
    }

    py::object gradient(py::handle x) { return value_and_gradient(x, false)[1]; }

    // (value, gradient) at a point, or (values, gradients) at points, from
    // one lookup per point. A gradient alone is charged n, with its value
    // n + 1; the value is followed either way.
    py::tuple value_and_gradient(py::handle x, bool with_value) {
        if (kind_ == Kind::ND) throw py::value_error("the ND kind has no gradient; this run observes ND");
        const std::uint64_t c = n_ + (with_value ? 1 : 0);
        Points p = read_points(x, n_);
        std::vector<py::ssize_t> gshape = p.shape;
        gshape.push_back(n_);
        py::array_t<double> g(gshape);
        if (p.single) {
            const Turn turn(*this);
            charge(c);
            values_ += with_value;
            ++gradients_;
            const double f = member_.value_and_gradient(kind_, p.coordinates(), {g.mutable_data(), n_});
            note(p.data, f);
            return py::make_tuple(py::float_(f), std::move(g));
        }
        py::array_t<double> f(p.shape);
        double *fo = f.mutable_data(), *go = g.mutable_data();
        const Turn turn(*this);
        const std::size_t fit = affordable(p.count, c);
        without_gil([&](const BatchProgress &progress) {
            member_.values_and_gradients(kind_, {p.data, fit * n_}, {fo, fit}, {go, fit * n_}, 1, progress);
        });
        for (std::size_t k = 0; k < fit; ++k) {
            cost_ += c;
            values_ += with_value;
            ++gradients_;
            note(p.data + k * n_, f.data()[k]);
        }
        if (fit < p.count) throw BudgetExhausted();
        return py::make_tuple(std::move(f), std::move(g));
    }

    // Hessian(s) (..., n, n) of the D2 kind; the value is followed too.
    py::array_t<double> hessian(py::handle x) {
        if (kind_ != Kind::D2)
            throw py::value_error("the Hessian needs the D2 kind; this run observes " + std::string(kind_name(kind_)));
        const std::uint64_t c = std::uint64_t(n_) * (n_ + 1) / 2;
        Points p = read_points(x, n_);
        std::vector<py::ssize_t> shape = p.shape;
        shape.push_back(n_);
        shape.push_back(n_);
        py::array_t<double> out(shape);
        double *o = out.mutable_data();
        const Turn turn(*this);
        const std::size_t fit = affordable(p.count, c);
        std::vector<double> f(fit);
        without_gil([&](const BatchProgress &progress) {
            member_.hessians({p.data, fit * n_}, {o, fit * n_ * n_}, 1, progress);
            member_.values(kind_, {p.data, fit * n_}, f, 1, progress);
        });
        for (std::size_t k = 0; k < fit; ++k) {
            cost_ += c;
            ++hessians_;
            note(p.data + k * n_, f[k]);
        }
        if (fit < p.count) throw BudgetExhausted();
        return out;
    }

    py::object best_point() const {
        if (trace_.empty()) return py::none();
        return py::array_t<double>(n_, best_point_.data());
    }

    py::list target_hits() const {
        py::list l;
        for (const auto &h : level_hits_) l.append(optional_int(h));
        return l;
    }

    py::array_t<double> trace() const {
        py::array_t<double> a({py::ssize_t(trace_.size()), py::ssize_t(5)});
        auto m = a.mutable_unchecked<2>();
        for (std::size_t i = 0; i < trace_.size(); ++i) {
            const TraceEntry &e = trace_[i];
            m(i, 0) = double(e.cost);
            m(i, 1) = double(e.values);
            m(i, 2) = double(e.gradients);
            m(i, 3) = double(e.hessians);
            m(i, 4) = e.best;
        }
        return a;
    }

    const py::object owner_;  // the travo.Member given, kept for its Python attributes
    const Member member_;
    const Kind kind_;
    const std::uint32_t n_;
    const std::optional<std::uint64_t> budget_;
    std::uint64_t cost_ = 0, values_ = 0, gradients_ = 0, hessians_ = 0;
    double best_value_ = std::numeric_limits<double>::infinity();
    std::vector<int> exponents_;
    std::vector<double> levels_;
    std::optional<std::uint64_t> hit_;

private:
    // One call's turn at the books: the problem's lock, waited for without
    // the GIL, held while the call evaluates (without the GIL) and notes its
    // points (with it). Attributes are read with the GIL alone, which every
    // change of the books holds. A call made while this thread holds the
    // turn (from a signal handler run during a batch) is refused.
    class Turn {
    public:
        explicit Turn(Observed &o) : o_(o), lock_(o.mutex_, std::try_to_lock) {
            // Only this thread stores its own id, so relaxed order suffices.
            if (!lock_.owns_lock()) {
                if (o.holder_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
                    throw std::runtime_error("this observed problem is already evaluating on this thread");
                }
                PyThreadState *state = PyEval_SaveThread();
                lock_.lock();
                relock(state);
            }
            o.holder_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        }
        ~Turn() { o_.holder_.store(std::thread::id(), std::memory_order_relaxed); }  // before the lock is let go
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;

    private:
        Observed &o_;
        std::unique_lock<std::mutex> lock_;
    };

    std::mutex mutex_;
    std::atomic<std::thread::id> holder_;

    // Refuses a single point that would overrun the budget, else charges it.
    void charge(std::uint64_t c) {
        if (budget_ && cost_ + c > *budget_) throw BudgetExhausted();
        cost_ += c;
    }

    // Points of a batch, each costing c, that fit in what is left.
    std::size_t affordable(std::size_t count, std::uint64_t c) const {
        if (!budget_) return count;
        return std::size_t(std::min<std::uint64_t>(count, (*budget_ - cost_) / c));
    }

    // Bookkeeping of one evaluated point, after its cost is charged. A point
    // outside the box (error value) is counted but is never best nor a hit.
    void note(const double *x, double f) {
        if (f == error_value) return;
        if (!hit_ && box_rule_.meets_in_box({x, n_})) hit_ = cost_;
        if (f < best_value_) {
            best_value_ = f;
            std::copy(x, x + n_, best_point_.begin());
            trace_.push_back({cost_, values_, gradients_, hessians_, f});
            while (next_level_ < levels_.size() && f <= levels_[next_level_]) level_hits_[next_level_++] = cost_;
        }
    }

    const SolvedRule box_rule_;  // the class rule, as everywhere else
    std::vector<double> best_point_;
    std::vector<std::optional<std::uint64_t>> level_hits_;
    std::size_t next_level_ = 0;
    std::vector<TraceEntry> trace_;
};

}  // namespace

}  // namespace travo::python

template <>
class pybind11::detail::type_caster<travo::python::Observed>
    : public travo::python::InitialisedCaster<travo::python::Observed> {};

namespace travo::python {

void register_observed(py::module_ &m) {
    using namespace pybind11::literals;
    py::register_exception<BudgetExhausted>(m, "BudgetExhausted");
    py::class_<Observed>(m, "Observed", R"(A member and a kind observed for one run of an optimiser.

Counts values, gradients and Hessians and charges each point to the budget
in value evaluations (value 1, gradient n, value and gradient n + 1, Hessian
n(n+1)/2); a call that would overrun it raises BudgetExhausted (a batch first
evaluates the points that fit). Keeps the best point and value and the cost
at which the box rule and each value target f* + 10**k were first met.)")
        .def(py::init<py::object, py::handle, std::optional<std::uint64_t>, double, std::vector<int>>(), "member"_a,
             "kind"_a = "D", "budget"_a = py::none(), "accuracy"_a = 1e-4, "targets"_a = std::vector<int>{})
        .def("value", &Observed::value, "x"_a, "Value at a point (n,) or values at points (..., n).")
        .def("__call__", &Observed::value, "x"_a, "Same as value.")
        .def("gradient", &Observed::gradient, "x"_a, "Gradient(s), shape (..., n); D or D2 kind.")
        .def(
            "value_and_gradient", [](Observed &o, py::handle x) { return o.value_and_gradient(x, true); }, "x"_a,
            "(value, gradient) from one lookup per point.")
        .def("hessian", &Observed::hessian, "x"_a, "Hessian(s), shape (..., n, n); D2 kind.")
        .def_readonly("member", &Observed::owner_, "The observed travo.Member.")
        .def_property_readonly("kind", [](const Observed &o) { return kind_name(o.kind_); })
        .def_readonly("dim", &Observed::n_)
        .def_property_readonly(
            "budget", [](const Observed &o) { return optional_int(o.budget_); },
            "Budget in value evaluations, or None.")
        .def_property_readonly("remaining",
                               [](const Observed &o) {
                                   return optional_int(o.budget_ ? std::optional(*o.budget_ - o.cost_) : std::nullopt);
                               })
        .def_readonly("cost", &Observed::cost_, "Cost so far, in value evaluations.")
        .def_readonly("values", &Observed::values_)
        .def_readonly("gradients", &Observed::gradients_)
        .def_readonly("hessians", &Observed::hessians_)
        .def_readonly("best_value", &Observed::best_value_, "Best value so far (inf before any point in the box).")
        .def_property_readonly("best_point", &Observed::best_point, "Point of the best value, or None.")
        .def_property_readonly(
            "hit", [](const Observed &o) { return optional_int(o.hit_); },
            "Cost at the first point that met the box rule, or None.")
        .def_readonly("target_exponents", &Observed::exponents_, "Exponents k of the value targets, decreasing.")
        .def_readonly("target_levels", &Observed::levels_, "Value targets f* + 10**k.")
        .def_property_readonly("target_hits", &Observed::target_hits,
                               "Cost at which each value target was first met, or None.")
        .def_property_readonly("trace", &Observed::trace,
                               "Improvements of the best value: rows (cost, values, gradients, hessians, best).");
}

}  // namespace travo::python
