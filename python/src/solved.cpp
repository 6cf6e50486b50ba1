// travo._travo._solved: whether points count as a global minimizer, by the
// C++ interface's SolvedRule (the box, distance or value rule), so that the
// package's Member.solved and its campaigns' hits use the same test as the
// tool.
#include <string>

#include "bindings.hpp"

namespace travo::python {

namespace {

py::object solved(py::handle member, py::handle x, const std::string &rule, double tolerance, py::handle kind) {
    const Member &f = member_of(member);
    const SolvedRule test = rule == "box"        ? SolvedRule::box(f, tolerance)
                            : rule == "distance" ? SolvedRule::distance(f, tolerance)
                            : rule == "value"    ? SolvedRule::value(f, read_kind(kind), tolerance)
                                                 : throw py::value_error(
                                                       "rule must be 'box', 'distance' or 'value'; "
                                                          "got " +
                                                       rule);
    const std::uint32_t n = f.dim();
    Points p = read_points(x, n);
    if (p.single) return py::bool_(test(p.coordinates()));
    py::array r = result_array(p, {}, py::none(), py::dtype::of<bool>());
    auto *o = static_cast<bool *>(r.mutable_data());
    for (std::size_t i = 0; i < p.count; i++) o[i] = test({p.data + i * n, n});
    return r;
}

}  // namespace

void register_solved(py::module_ &m) {
    using namespace pybind11::literals;
    m.def("_solved", &solved, "member"_a, "x"_a, "rule"_a, "tolerance"_a, "kind"_a = "D2",
          "Whether each point counts as a global minimizer by the rule ('box' with the accuracy, 'distance' or "
          "'value' with the tolerance).");
}

}  // namespace travo::python
