// Pieces shared by the subcommands of the travo tool: errors and their exit
// statuses, strict number parsing, number text, output and member options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "travo/travo.hpp"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace travo::cli {

// A bad command-line parameter: exit status 2. The message names the
// parameter and the rule it broke.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bad input data or a failed read or write: exit status 1.
struct DataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline constexpr int kExitData = 1;
inline constexpr int kExitUsage = 2;

// Text of a field or option for a message, in single quotes, cut after 40
// characters.
std::string excerpt(std::string_view text);
std::string lower(std::string text);
std::string_view trim(std::string_view s);

// How a text reads as a double: the whole text must be the number; a
// finite number beyond the range of double (1e400, 1e-400) is out of range.
enum class NumberRead { ok, not_a_number, out_of_range, not_finite };
NumberRead read_real(std::string_view text, double &v);

// Strict parsers: the whole text must be the number. `what` names the
// parameter in the error message. A whole number may be written as a real
// (1e5).
double parse_real(std::string_view text, std::string_view what);
std::int64_t parse_integer(std::string_view text, std::string_view what);
// A whole number from lo to hi; outside it (however far) the message is
// "<what>: <rule> (it is <text>)".
std::int64_t parse_count(std::string_view text, std::string_view what, std::int64_t lo, std::int64_t hi,
                         std::string_view rule);
// Comma-separated reals ("1,2.5,-3").
std::vector<double> parse_reals(std::string_view text, std::string_view what);

// Shortest text that reads back as the same double.
std::string number(double v);

// Reads all of `path`, or standard input for "-" or "". `source` names it
// in messages. A line longer than kMaxLineLength bytes is refused.
inline constexpr std::size_t kMaxLineLength = std::size_t{1} << 20;
std::string read_input(const std::string &path, const std::string &source);

// The kind of --kind, whose name the parser has checked.
Kind kind_of(const std::string &name);

// The options that fix a member, shared by every subcommand.
class MemberOptions {
public:
    void add_to(CLI::App &app);

    // The parameters given (defaults for the others; distance and radius
    // from the box when not given). Throws UsageError.
    Parameters parameters() const;

    // Generates the member; a refusal becomes a UsageError naming the
    // option behind it.
    Member generate() const;

private:
    std::string dim_, minima_, global_value_, distance_, radius_, test_, box_;
    CLI::Option *dim_opt_ = nullptr, *minima_opt_ = nullptr, *global_value_opt_ = nullptr, *distance_opt_ = nullptr,
                *radius_opt_ = nullptr, *test_opt_ = nullptr, *box_opt_ = nullptr;
};

// Number of worker threads: --threads, or the machine's cores.
unsigned thread_count(const std::string &text);

// The member's parameters as the options that make it again, for the
// records that make an output file reproducible.
std::string describe(const Parameters &p);

// JSON pieces written directly: a number (null when not finite), an array
// of numbers, and the record fields "travo" (version), "command" and
// "parameters", without braces.
void json_number(std::string &out, double v);
void json_array(std::string &out, std::span<const double> v);
std::string json_record(const char *command, const Parameters &p);

}  // namespace travo::cli
