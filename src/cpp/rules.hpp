// Texts of the rules that refused parameters break, shared by the pieces of
// the C++ interface.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "travo/travo.hpp"

namespace travo::detail {

// Shortest decimal text that reads back as the same double.
std::string number(double v);

// Shortest side of a box: coordinate 0 first, then strictly shorter sides.
double shortest_side(const std::vector<double> &lower, const std::vector<double> &upper);

// The rule behind a status, with the values of `p` that broke it.
std::string rule(Status status, const Parameters &p);
// The rule behind a dimension or minima count status, for the value given.
std::string rule(Status status, std::size_t value);

}  // namespace travo::detail
