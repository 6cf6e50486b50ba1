// The compiled part of the travo Python package (travo._travo): shared
// helpers for reading points and writing results, and the registration
// functions that each add their part of the module.
#ifndef TRAVO_PYTHON_BINDINGS_HPP
#define TRAVO_PYTHON_BINDINGS_HPP

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "travo/travo.hpp"

namespace travo::python {

namespace py = pybind11;

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

// Registration of each part of the module, called in this order by the
// module definition (module.cpp).
void register_errors(py::module_ &m);
void register_member(py::module_ &m);
void register_observed(py::module_ &m);
void register_solved(py::module_ &m);

}  // namespace travo::python

#endif  // TRAVO_PYTHON_BINDINGS_HPP
