// Reading points and kinds from Python objects, and result arrays.
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "bindings.hpp"

namespace travo::python {

namespace {

std::string text(py::handle object) { return py::str(object).cast<std::string>(); }

std::string shape_text(const std::vector<py::ssize_t> &shape) {
    std::string text = "(";
    for (std::size_t i = 0; i < shape.size(); i++) {
        if (i > 0) text += ", ";
        text += std::to_string(shape[i]);
    }
    if (shape.size() == 1) text += ",";
    return text + ")";
}

std::vector<py::ssize_t> shape_of(const py::array &a) {
    return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

[[noreturn]] void bad_point_shape(const char *name, std::uint32_t n, const std::string &got) {
    throw py::value_error(std::string(name) + " must be a point of shape (" + std::to_string(n) +
                          ",) or a batch of points of shape (..., " + std::to_string(n) + "); got " + got);
}

bool aligned(const void *p) { return reinterpret_cast<std::uintptr_t>(p) % alignof(double) == 0; }

// One point given as a list or tuple of exactly n Python floats or ints,
// read without going through numpy (the common case of single calls).
bool read_plain_sequence(py::handle x, std::uint32_t n, Points &p) {
    PyObject *seq = x.ptr();
    if (!PyList_CheckExact(seq) && !PyTuple_CheckExact(seq)) return false;
    if (PySequence_Fast_GET_SIZE(seq) != static_cast<Py_ssize_t>(n)) return false;
    PyObject **items = PySequence_Fast_ITEMS(seq);
    p.owned.resize(n);
    for (std::uint32_t i = 0; i < n; i++) {
        PyObject *item = items[i];
        if (PyFloat_CheckExact(item)) {
            p.owned[i] = PyFloat_AS_DOUBLE(item);
        } else if (PyLong_CheckExact(item)) {
            const double v = PyLong_AsDouble(item);
            if (v == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();
                return false;
            }
            p.owned[i] = v;
        } else {
            return false;
        }
    }
    p.data = p.owned.data();
    p.count = 1;
    p.single = true;
    return true;
}

}  // namespace

Points read_points(py::handle x, std::uint32_t n, const char *name) {
    Points p;
    p.n = n;
    if (read_plain_sequence(x, n, p)) return p;

    // A float64 array in native byte order, C-contiguous and aligned, is
    // read as it is: the common case of batches.
    if (py::array_t<double, py::array::c_style>::check_(x)) {
        auto a = py::reinterpret_borrow<py::array>(x);
        if (aligned(a.data()) && a.ndim() > 0 && a.shape(a.ndim() - 1) == static_cast<py::ssize_t>(n)) {
            p.shape.assign(a.shape(), a.shape() + a.ndim() - 1);
            p.count = 1;
            for (const py::ssize_t extent : p.shape) p.count *= static_cast<std::size_t>(extent);
            p.single = a.ndim() == 1;
            p.data = static_cast<const double *>(a.data());
            p.array = std::move(a);
            return p;
        }
    }
    py::array a = py::array::ensure(x);
    if (!a) {
        throw py::type_error(std::string(name) + " must be an array of real numbers of shape (" + std::to_string(n) +
                             ",) or (..., " + std::to_string(n) + ")");
    }
    const char kind = a.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
        throw py::type_error(std::string(name) + " must hold real numbers; got an array of dtype " + text(a.dtype()));
    }
    if (a.ndim() == 0) bad_point_shape(name, n, "a scalar");
    if (a.shape(a.ndim() - 1) != static_cast<py::ssize_t>(n)) {
        bad_point_shape(name, n, "shape " + shape_text(shape_of(a)));
    }

    // In place when already C-contiguous float64; otherwise one conversion,
    // whose failure (MemoryError for a broadcast batch too large to copy)
    // is raised as numpy raised it.
    const int flags = py::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_ | py::detail::npy_api::NPY_ARRAY_FORCECAST_ |
                      py::detail::npy_api::NPY_ARRAY_ENSUREARRAY_;
    a = py::reinterpret_steal<py::array>(py::detail::npy_api::get().PyArray_FromAny_(
        a.ptr(), py::dtype::of<double>().release().ptr(), 0, 0, flags, nullptr));
    if (!a) throw py::error_already_set();
    if (!aligned(a.data())) {
        py::array_t<double> copy(shape_of(a));
        std::memcpy(copy.mutable_data(), a.data(), static_cast<std::size_t>(a.nbytes()));
        a = copy;
    }
    p.shape.assign(a.shape(), a.shape() + a.ndim() - 1);
    p.count = static_cast<std::size_t>(a.size()) / n;
    p.single = a.ndim() == 1;
    p.data = static_cast<const double *>(a.data());
    p.array = std::move(a);
    return p;
}

Kind read_kind(py::handle kind) {
    Py_ssize_t size = 0;
    const char *text = PyUnicode_Check(kind.ptr()) ? PyUnicode_AsUTF8AndSize(kind.ptr(), &size) : nullptr;
    if (text == nullptr) PyErr_Clear();
    if (text != nullptr) {
        if (const std::optional<Kind> k = parse_kind({text, static_cast<std::size_t>(size)})) return *k;
    }
    throw py::value_error("kind must be 'ND', 'D' or 'D2'; got " + py::repr(kind).cast<std::string>());
}

unsigned read_threads(long long threads) {
    if (threads < 0 || static_cast<unsigned long long>(threads) > UINT_MAX) {
        throw py::value_error(
            "threads must be 0 (a large batch on all the hardware's threads) or a positive "
            "number of threads; got " +
            std::to_string(threads));
    }
    return static_cast<unsigned>(threads);
}

py::array result_array(Points &points, const std::vector<py::ssize_t> &tail, py::handle out, const py::dtype &dtype,
                       const char *name) {
    std::vector<py::ssize_t> shape = points.shape;
    shape.insert(shape.end(), tail.begin(), tail.end());
    if (out.is_none()) return py::array(dtype, shape);

    const std::string wanted = "a writeable C-contiguous " + text(dtype) + " array of shape " + shape_text(shape);
    if (!py::isinstance<py::array>(out)) {
        throw py::type_error(std::string(name) + " must be " + wanted + "; got " +
                             py::str(py::type::handle_of(out).attr("__name__")).cast<std::string>());
    }
    auto a = py::reinterpret_borrow<py::array>(out);
    const bool writeable = a.writeable();
    if (!a.dtype().equal(dtype) || !writeable || (a.flags() & py::array::c_style) == 0 || !aligned(a.data()) ||
        shape_of(a) != shape) {
        throw py::value_error(std::string(name) + " must be " + wanted + "; got a " + (writeable ? "" : "read-only ") +
                              text(a.dtype()) + " array of shape " + shape_text(shape_of(a)));
    }
    // Results written over the points they come from would change points
    // not yet evaluated: read the points from a copy then.
    const auto *out_begin = static_cast<const char *>(a.data());
    const auto *in_begin = reinterpret_cast<const char *>(points.data);
    const auto *out_end = out_begin + a.nbytes();
    const auto *in_end = in_begin + points.count * points.n * sizeof(double);
    if (out_begin < in_end && in_begin < out_end) {
        points.owned.assign(points.data, points.data + points.count * points.n);
        points.data = points.owned.data();
    }
    return a;
}

const Member &member_of(py::handle member) { return member.cast<const Member &>(); }

void register_errors(py::module_ &m) {
    (void)m;
    // Refused parameters become travo.GenerationError (a ValueError) with the
    // status and the rule; the class lives in the Python layer.
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const Error &e) {
            try {
                py::object cls = py::module_::import("travo._errors").attr("GenerationError");
                py::object exc = cls(static_cast<int>(e.status()), e.rule(), e.what());
                PyErr_SetObject(cls.ptr(), exc.ptr());
            } catch (py::error_already_set &failed) {
                failed.restore();
            }
        }
    });
}

}  // namespace travo::python
