// Module definition of travo._travo. Each part of the module registers its
// classes and functions through one function declared in bindings.hpp.
#include "bindings.hpp"

PYBIND11_MODULE(_travo, m) {
    m.doc() = "Compiled core of the travo package; use the travo package itself.";
    m.attr("__version__") = std::string(travo::version());
    travo::python::register_gil(m);
    travo::python::register_errors(m);
    travo::python::register_member(m);
    travo::python::register_observed(m);
    travo::python::register_solved(m);
}
