// The compiled part of the travo Python package (travo._travo): shared
// helpers for reading points and writing results, and the registration
// functions that each add their part of the module.
#ifndef TRAVO_PYTHON_BINDINGS_HPP
#define TRAVO_PYTHON_BINDINGS_HPP

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "travo/travo.hpp"

namespace travo::python {

namespace py = pybind11;

// The caster of a compiled class T. An object made by __new__ alone, as
// travo.Member.__new__(travo.Member), holds no C++ object: every method,
// attribute and function given it then raises TypeError instead of reading
// uninitialised memory.
template <class T>
class InitialisedCaster : public py::detail::type_caster_base<T> {
public:
    bool load(py::handle src, bool convert) {
        if (!py::detail::type_caster_base<T>::load(src, convert)) return false;
        if (src.is_none()) return true;
        const auto held = reinterpret_cast<py::detail::instance *>(src.ptr())->get_value_and_holder(
            py::detail::get_type_info(typeid(T)), false);
        if (held.inst != nullptr && !held.holder_constructed()) {
            const py::handle type = py::type::handle_of(src);
            throw py::type_error(py::str("{}.{} object is not initialised (made by __new__ without __init__)")
                                     .format(type.attr("__module__"), type.attr("__qualname__"))
                                     .cast<std::string>());
        }
        return true;
    }
};

}  // namespace travo::python

template <>
class pybind11::detail::type_caster<travo::Member> : public travo::python::InitialisedCaster<travo::Member> {};

namespace travo::python {

// Points of dimension n read from a Python object: one point of shape (n,)
// or a batch of shape (..., n). A C-contiguous, aligned float64 array is
// read in place; anything else numeric is converted once. Refuses
// non-numeric input (TypeError) and a wrong last dimension (ValueError) with
// a message naming the expected shape.
struct Points {
    py::object array;                // keeps the coordinates alive (None when read into `owned`)
    std::vector<double> owned;       // a short list or tuple read directly
    const double *data = nullptr;    // count * n coordinates
    std::vector<py::ssize_t> shape;  // shape of the batch, without the last axis
    std::size_t count = 0;           // number of points
    std::uint32_t n = 0;             // coordinates per point
    bool single = true;              // one point of shape (n,)

    std::span<const double> coordinates() const { return {data, count * n}; }
};

Points read_points(py::handle x, std::uint32_t n, const char *name = "x");

// Kind from "ND", "D" or "D2" (any case); ValueError for anything else.
Kind read_kind(py::handle kind);

// Number of threads for a batch: 0 (the hardware's, for a large batch) or a
// positive count; ValueError for anything else.
unsigned read_threads(long long threads);

// Array of `dtype` and shape points.shape + tail for results: `out` when
// given (checked to be a writeable, aligned, C-contiguous array of exactly
// that dtype and shape; when it overlaps the points, they are read from a
// copy) or a new one.
py::array result_array(Points &points, const std::vector<py::ssize_t> &tail, py::handle out, const py::dtype &dtype,
                       const char *name = "out");

// The C++ member behind a travo.Member (TypeError for anything else).
const Member &member_of(py::handle member);

// Takes the GIL back after PyEval_SaveThread. Taking it back is where the
// interpreter ends a daemon thread once it is finalising (a forced
// unwinding, as by pthread_exit), which must not run through C++ frames: a
// noexcept destructor on the way would abort the process, and Python
// objects would be released without the GIL. Such a thread is parked here
// instead, holding nothing, until the process exits.
void relock(PyThreadState *state) noexcept;

// The GIL let go for the lifetime of the object (taken with it, given back
// by relock). On the main thread, progress() is a progress function for the
// C++ interface that looks for a signal (Ctrl-C) every kSignalEvery: it
// takes the GIL for a moment, runs the Python signal handlers and, when one
// raised (KeyboardInterrupt), asks the work to stop; elsewhere, where
// Python runs no handlers, it is empty and costs nothing.
class Unlocked {
public:
    static constexpr std::chrono::milliseconds kSignalEvery{20};

    Unlocked();
    ~Unlocked() { relock(state_); }
    Unlocked(const Unlocked &) = delete;
    Unlocked &operator=(const Unlocked &) = delete;

    const std::function<bool(double)> &progress() const { return progress_; }
    // Whether a signal handler raised; its exception waits in Python's
    // error indicator.
    bool interrupted() const { return interrupted_; }

private:
    bool keep_going();

    PyThreadState *state_;
    std::function<bool(double)> progress_;
    std::chrono::steady_clock::time_point next_;
    bool interrupted_ = false;
};

// Runs work(progress) without the GIL, progress as Unlocked gives it, and
// returns what it returns. When a signal handler raised meanwhile, the
// work's exception (GenerationAbandoned, BatchAbandoned) gives way to the
// handler's, raised once the GIL is back.
template <class Work>
auto without_gil(Work &&work) {
    {
        Unlocked gil;
        try {
            return std::forward<Work>(work)(gil.progress());
        } catch (...) {
            if (!gil.interrupted()) throw;
        }
    }
    throw py::error_already_set();
}

// Registration of each part of the module, called in this order by the
// module definition (module.cpp).
void register_gil(py::module_ &m);
void register_errors(py::module_ &m);
void register_member(py::module_ &m);
void register_observed(py::module_ &m);
void register_solved(py::module_ &m);

}  // namespace travo::python

#endif  // TRAVO_PYTHON_BINDINGS_HPP
