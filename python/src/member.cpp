// travo._travo._Member: a travo::Member with numpy-shaped evaluation. The
// travo package's Member derives from it and adds the pure-Python parts.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings.hpp"

namespace travo::python {

namespace {

using Shape = std::vector<py::ssize_t>;

double *doubles(py::array &a) { return static_cast<double *>(a.mutable_data()); }

// Whether two C-contiguous arrays share a byte.
bool overlap(const py::array &a, const py::array &b) {
    const auto *a0 = static_cast<const char *>(a.data()), *b0 = static_cast<const char *>(b.data());
    return a.nbytes() > 0 && b.nbytes() > 0 && a0 < b0 + b.nbytes() && b0 < a0 + a.nbytes();
}

// A read-only array of `shape` over `numbers`, which its base (a capsule)
// owns: numpy makes an array writeable again only over a writeable base.
template <class T>
py::array sealed(std::vector<T> numbers, std::vector<py::ssize_t> shape) {
    auto owned = std::make_unique<std::vector<T>>(std::move(numbers));
    const py::capsule base(owned.get(), [](void *p) { delete static_cast<std::vector<T> *>(p); });
    const T *data = owned.release()->data();
    py::array_t<T> a(std::move(shape), data, base);
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

// Read-only view of a table of the member; `owner` keeps the member alive.
py::array table_view(std::span<const double> table, py::handle owner) {
    py::array_t<double> a({static_cast<py::ssize_t>(table.size())}, {static_cast<py::ssize_t>(sizeof(double))},
                          table.data(), owner);
    a.attr("flags").attr("writeable") = false;
    return a;
}

py::object value(const Member &f, py::handle x, py::handle kind_arg, py::handle out, long long threads_arg) {
    const Kind kind = read_kind(kind_arg);
    const unsigned threads = read_threads(threads_arg);
    Points p = read_points(x, f.dim());
    if (p.single && out.is_none()) return py::float_(f.value(kind, p.coordinates()));
    py::array r = result_array(p, {}, out, py::dtype::of<double>());
    if (p.single) {
        *doubles(r) = f.value(kind, p.coordinates());
    } else {
        double *o = doubles(r);
        without_gil([&](const BatchProgress &progress) {
            f.values(kind, p.coordinates(), {o, p.count}, threads, progress);
        });
    }
    return r;
}

py::object gradient(const Member &f, py::handle x, py::handle kind_arg, py::handle out, long long threads_arg) {
    const Kind kind = read_kind(kind_arg);
    const unsigned threads = read_threads(threads_arg);
    const std::uint32_t n = f.dim();
    Points p = read_points(x, n);
    py::array r = result_array(p, {n}, out, py::dtype::of<double>());
    double *o = doubles(r);
    if (p.single) {
        f.gradient(kind, p.coordinates(), {o, n});
    } else {
        without_gil([&](const BatchProgress &progress) {
            f.gradients(kind, p.coordinates(), {o, p.count * n}, threads, progress);
        });
    }
    return r;
}

py::object value_and_gradient(const Member &f, py::handle x, py::handle kind_arg, py::handle out,
                              long long threads_arg) {
    const Kind kind = read_kind(kind_arg);
    const unsigned threads = read_threads(threads_arg);
    const std::uint32_t n = f.dim();
    Points p = read_points(x, n);
    py::handle value_out = py::none(), gradient_out = py::none();
    if (!out.is_none()) {
        if (!py::isinstance<py::tuple>(out) || py::len(out) != 2) {
            throw py::type_error("out must be a tuple (values, gradients) of two arrays");
        }
        value_out = out.cast<py::tuple>()[0];
        gradient_out = out.cast<py::tuple>()[1];
    }
    py::array g = result_array(p, {n}, gradient_out, py::dtype::of<double>(), "out[1]");
    if (p.single && value_out.is_none()) {
        const double v = f.value_and_gradient(kind, p.coordinates(), {doubles(g), n});
        return py::make_tuple(v, std::move(g));
    }
    py::array v = result_array(p, {}, value_out, py::dtype::of<double>(), "out[0]");
    if (overlap(v, g)) throw py::value_error("out[0] and out[1] must not overlap");
    if (p.single) {
        *doubles(v) = f.value_and_gradient(kind, p.coordinates(), {doubles(g), n});
    } else {
        double *vo = doubles(v);
        double *go = doubles(g);
        without_gil([&](const BatchProgress &progress) {
            f.values_and_gradients(kind, p.coordinates(), {vo, p.count}, {go, p.count * n}, threads, progress);
        });
    }
    return py::make_tuple(std::move(v), std::move(g));
}

py::object hessian(const Member &f, py::handle x, py::handle kind_arg, py::handle out, long long threads_arg) {
    if (read_kind(kind_arg) != Kind::D2) {
        throw py::value_error("only the D2 kind has a Hessian; got kind " + py::repr(kind_arg).cast<std::string>());
    }
    const unsigned threads = read_threads(threads_arg);
    const std::uint32_t n = f.dim();
    Points p = read_points(x, n);
    py::array r = result_array(p, {n, n}, out, py::dtype::of<double>());
    double *o = doubles(r);
    const std::size_t nn = static_cast<std::size_t>(n) * n;
    if (p.single) {
        f.hessian(p.coordinates(), {o, nn});
    } else {
        without_gil([&](const BatchProgress &progress) {
            f.hessians(p.coordinates(), {o, p.count * nn}, threads, progress);
        });
    }
    return r;
}

py::object region(const Member &f, py::handle x, py::handle out, long long threads_arg) {
    const unsigned threads = read_threads(threads_arg);
    Points p = read_points(x, f.dim());
    if (p.single && out.is_none()) return py::int_(f.region(p.coordinates()));
    py::array r = result_array(p, {}, out, py::dtype::of<std::int64_t>());
    auto *o = static_cast<std::int64_t *>(r.mutable_data());
    if (p.single) {
        *o = f.region(p.coordinates());
    } else {
        without_gil([&](const BatchProgress &progress) {
            f.regions(p.coordinates(), {o, p.count}, threads, progress);
        });
    }
    return r;
}

py::object contains(const Member &f, py::handle x) {
    const std::uint32_t n = f.dim();
    Points p = read_points(x, n);
    if (p.single) return py::bool_(f.contains(p.coordinates()));
    py::array r = result_array(p, {}, py::none(), py::dtype::of<bool>());
    auto *o = static_cast<bool *>(r.mutable_data());
    for (std::size_t i = 0; i < p.count; i++) {
        // A long batch stops at Ctrl-C (a cheap test while no signal came).
        if (i % (std::size_t(1) << 16) == 0 && PyErr_CheckSignals() != 0) throw py::error_already_set();
        o[i] = f.contains({p.data + i * n, n});
    }
    return r;
}

// Parameters by the names of travo.Parameters' fields.
py::dict parameters_dict(const Parameters &p) {
    using namespace pybind11::literals;
    return py::dict("dim"_a = p.dim, "num_minima"_a = p.num_minima, "global_value"_a = p.global_value,
                    "distance"_a = p.distance, "radius"_a = p.radius, "lower"_a = py::tuple(py::cast(p.lower)),
                    "upper"_a = py::tuple(py::cast(p.upper)), "test_number"_a = p.test_number);
}

Member make_member(std::uint32_t dim, std::uint32_t num_minima, double global_value, double distance, double radius,
                   std::vector<double> lower, std::vector<double> upper, std::int32_t test_number) {
    Parameters params;
    params.dim = dim;
    params.num_minima = num_minima;
    params.global_value = global_value;
    params.distance = distance;
    params.radius = radius;
    params.lower = std::move(lower);
    params.upper = std::move(upper);
    params.test_number = test_number;
    return without_gil([&](const GenerationProgress &progress) { return generate(params, progress); });
}

constexpr const char *eval_args_doc = R"(

Parameters
----------
x : array_like
    One point of shape (n,) or a batch of shape (..., n); C-contiguous
    float64 arrays are read in place, other numeric input is converted once.
kind : str
    'ND', 'D' or 'D2' (any case).
out : numpy.ndarray, optional
    Array to write the results into (writeable, C-contiguous, float64, of
    the result's exact shape); returned.
threads : int
    0 spreads a large batch over the hardware's threads, k > 0 uses k. A
    batch is evaluated without holding the GIL.

Returns
-------
)";

constexpr const char *eval_raises_doc = R"(

A point more than 1e-10 outside the box evaluates to 1e+100.

Raises
------
ValueError
    For a last dimension other than n, an unknown kind, or a kind without
    the derivative asked for.
TypeError
    For points that are not numbers.)";

// The docstring of an evaluation: what it gives, then the arguments, what it
// returns (numpy style) and what it refuses.
std::string doc(const char *head, const char *returns) {
    return std::string(head) + eval_args_doc + returns + eval_raises_doc;
}

}  // namespace

void register_member(py::module_ &m) {
    using namespace pybind11::literals;
    py::class_<Member>(m, "_Member", "A generated member; use travo.generate and travo.Member.")
        .def(py::init(&make_member), py::kw_only(), "dim"_a, "num_minima"_a, "global_value"_a, "distance"_a, "radius"_a,
             "lower"_a, "upper"_a, "test_number"_a)
        .def_property_readonly("dim", &Member::dim, "Dimension n of the points.")
        .def_property_readonly("num_minima", &Member::num_minima, "Number m of rows of the minima table.")
        .def_property_readonly("delta", &Member::delta, "Coefficient of the D2 kind, in [0, 10).")
        .def_property_readonly(
            "minimum_values", [](py::object self) { return table_view(member_of(self).minimum_values(), self); },
            "Value at each minimizer, shape (m,), read-only.")
        .def_property_readonly(
            "radii", [](py::object self) { return table_view(member_of(self).radii(), self); },
            "Radius of each minimizer's attraction region, shape (m,), read-only.")
        .def("_minimizers",
             [](const Member &f) {
                 const std::uint32_t n = f.dim(), rows = f.num_minima();
                 std::vector<double> table;
                 table.reserve(std::size_t(rows) * n);
                 for (std::uint32_t r = 0; r < rows; r++) {
                     const auto row = f.minimizer(r);
                     table.insert(table.end(), row.begin(), row.end());
                 }
                 return sealed(std::move(table), {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(n)});
             })
        .def("_global_rows",
             [](const Member &f) {
                 const auto rows = f.global_minimizers();
                 return sealed(std::vector<std::int64_t>(rows.begin(), rows.end()),
                               {static_cast<py::ssize_t>(rows.size())});
             })
        .def("_parameters", [](const Member &f) { return parameters_dict(f.parameters()); })
        .def("value", &value, "x"_a, "kind"_a = "D2", py::kw_only(), "out"_a = py::none(), "threads"_a = 0,
             doc("Value of the given kind.",
                 "float or numpy.ndarray\n    A float for one point, an array of shape (...) for a batch.")
                 .c_str())
        .def("gradient", &gradient, "x"_a, "kind"_a = "D2", py::kw_only(), "out"_a = py::none(), "threads"_a = 0,
             doc("Gradient of the D or D2 kind.", "numpy.ndarray\n    Shape (..., n).").c_str())
        .def("value_and_gradient", &value_and_gradient, "x"_a, "kind"_a = "D2", py::kw_only(), "out"_a = py::none(),
             "threads"_a = 0,
             doc("Value and gradient (D or D2) from one region lookup; out is a tuple of two arrays.",
                 "tuple\n    The values as value() gives them and the gradients as gradient() does.")
                 .c_str())
        .def("hessian", &hessian, "x"_a, "kind"_a = "D2", py::kw_only(), "out"_a = py::none(), "threads"_a = 0,
             doc("Hessian of the D2 kind.", "numpy.ndarray\n    Shape (..., n, n).").c_str())
        .def("region", &region, "x"_a, py::kw_only(), "out"_a = py::none(), "threads"_a = 0,
             "Row of the minima table (1..m-1) whose attraction region holds each point.\n\n"
             "Parameters\n----------\nx : array_like\n    One point of shape (n,) or a batch of shape (..., n).\n"
             "out : numpy.ndarray, optional\n    int64 array of the result's shape to write into.\n"
             "threads : int\n    As for value().\n\n"
             "Returns\n-------\nint or numpy.ndarray\n    The row, -1 for none (on the paraboloid, or outside the "
             "box): an int for\n    one point, an int64 array of shape (...) for a batch.")
        .def("contains", &contains, "x"_a,
             "Whether each point lies in the box or within 1e-10 of it.\n\n"
             "Parameters\n----------\nx : array_like\n    One point of shape (n,) or a batch of shape (..., n).\n\n"
             "Returns\n-------\nbool or numpy.ndarray\n    A bool for one point, a bool array of shape (...) for a "
             "batch.");

    m.def(
        "_resolve",
        [](std::optional<std::uint32_t> dim, std::optional<std::uint32_t> num_minima,
           std::optional<double> global_value, std::optional<double> distance, std::optional<double> radius,
           std::optional<std::vector<double>> lower, std::optional<std::vector<double>> upper,
           std::optional<std::int32_t> test_number) {
            return parameters_dict(Parameters::resolve(
                {dim, num_minima, global_value, distance, radius, std::move(lower), std::move(upper), test_number}));
        },
        py::kw_only(), "dim"_a, "num_minima"_a, "global_value"_a, "distance"_a, "radius"_a, "lower"_a, "upper"_a,
        "test_number"_a, "The parameters given (None: left out), with the library's defaults for the others.");
}

}  // namespace travo::python
