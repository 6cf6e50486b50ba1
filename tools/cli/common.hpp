// Pieces shared by the subcommands of the travo tool: errors and their exit
// statuses, strict number parsing, number text, output and member options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// Strict parsers: the whole text must be the number. `what` names the
// parameter in the error message.
double parse_real(std::string_view text, std::string_view what);
std::int64_t parse_integer(std::string_view text, std::string_view what);
// Comma-separated reals ("1,2.5,-3").
std::vector<double> parse_reals(std::string_view text, std::string_view what);

// Shortest text that reads back as the same double.
std::string number(double v);

// Writes `content` to `path`, or to standard output for "-" or "".
void write_output(const std::string &path, const std::string &content);

// Reads all of `path`, or standard input for "-" or "".
std::string read_input(const std::string &path);

// Kind names: "nd", "d", "d2".
Kind parse_kind(const std::string &name);
const char *kind_name(Kind kind);

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
    CLI::Option *dim_opt_ = nullptr, *minima_opt_ = nullptr, *global_value_opt_ = nullptr,
                *distance_opt_ = nullptr, *radius_opt_ = nullptr, *test_opt_ = nullptr, *box_opt_ = nullptr;
};

// Number of worker threads: --threads, or the machine's cores.
unsigned thread_count(std::int64_t requested);

}  // namespace travo::cli
