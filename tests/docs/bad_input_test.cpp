// docs/bad-input.md cannot drift: every example of the host entry, the library and the tool gives the message,
// status or values of its row, and every message, status and refusable option has a row.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "support/gateway_fixture.hpp"
#include "travo/travo.hpp"
#ifdef TRAVO_CLI
#include "support/tool.hpp"
#endif

using namespace travo::testing;
namespace host = travo::host;

namespace {

constexpr auto npos = std::string::npos;
using Row = std::vector<std::string>;
using Args = std::vector<std::string>;

std::string read_source(const std::string &path) {
    std::ifstream f(TRAVO_SOURCE_DIR "/" + path);
    if (!f) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string trim(const std::string &s) {
    const auto b = s.find_first_not_of(" \t");
    return b == npos ? "" : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Runs `check` on each body row of the tables headed `first` in the "## heading" section, naming the row in
// every failure; there must be such rows. Returns their first cells.
std::set<std::string> each_row(const std::string &heading, const std::string &first,
                               const std::function<void(const Row &)> &check) {
    std::istringstream in(read_source("docs/bad-input.md"));
    std::set<std::string> firsts;
    std::string header;  // the current table's first header cell
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inside = line.rfind("## " + heading, 0) == 0;
        if (!inside || line.empty() || line[0] != '|') {
            header.clear();
            continue;
        }
        Row row;
        for (std::size_t start = 1, bar; (bar = line.find('|', start)) != npos; start = bar + 1) {
            row.push_back(trim(line.substr(start, bar - start)));
        }
        if (header.empty()) {
            header = row.at(0);
        } else if (header == first && row.at(0).rfind("---", 0) != 0) {
            SCOPED_TRACE(line);
            firsts.insert(row.at(0));
            check(row);
        }
    }
    EXPECT_FALSE(firsts.empty()) << heading << ": no table headed " << first;
    return firsts;
}

// The first code span of a cell, and the text of a quoted cell.
std::string code(const std::string &cell) {
    const auto b = cell.find('`'), e = cell.find('`', b + 1);
    if (e == npos) throw std::runtime_error("no code in: " + cell);
    return cell.substr(b + 1, e - b - 1);
}
std::string unquote(const std::string &cell) {
    if (cell.size() < 2 || cell.front() != '"' || cell.back() != '"') throw std::runtime_error("not quoted: " + cell);
    return cell.substr(1, cell.size() - 2);
}

// Parts of `s` between the separators outside brackets and parentheses.
std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out(1);
    int depth = 0;
    for (char c : s) {
        depth += (c == '(' || c == '[') - (c == ')' || c == ']');
        if (c == sep && depth == 0) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    for (auto &part : out) part = trim(part);
    return out;
}

// A number of the examples: a decimal, NaN or a quotient.
double scalar(const std::string &s) {
    if (const auto slash = s.find('/'); slash != npos) {
        return scalar(trim(s.substr(0, slash))) / scalar(trim(s.substr(slash + 1)));
    }
    std::size_t used = 0;
    const double v = std::stod(s, &used);
    if (used != s.size()) throw std::runtime_error("cannot read " + s);
    return v;
}

// A host array of an example's Octave expression: numbers, quoted texts, [a b], [a; b], zeros(r, c) and
// single(x); anything else is refused, so a new example cannot go unread.
host::Array octave(const std::string &s) {
    const auto inner = [&s](std::size_t from) { return s.substr(from, s.size() - from - 1); };
    if (s.front() == '\'') return host::text(inner(1));
    if (s.rfind("single(", 0) == 0) {
        const host::Array d = octave(inner(7));
        host::Array a = host::numeric(mxSINGLE_CLASS, mxGetM(d.get()), mxGetN(d.get()));
        std::copy_n(mxGetPr(d.get()), mxGetNumberOfElements(d.get()), static_cast<float *>(mxGetData(a.get())));
        return a;
    }
    if (s.rfind("zeros(", 0) == 0) {
        const auto dims = split(inner(6), ',');
        return host::matrix(std::stoul(dims.at(0)), std::stoul(dims.at(1)), {});
    }
    if (s.front() != '[') return host::scalar(scalar(s));
    std::vector<double> re;  // a row or a column
    for (const auto &part : split(inner(1), ';')) {
        std::istringstream in(part);
        for (std::string e; in >> e;) re.push_back(scalar(e));
    }
    const bool column = s.find(';') != npos;
    if (column && re.size() != std::size_t(std::count(s.begin(), s.end(), ';') + 1)) throw std::runtime_error(s);
    return host::matrix(column ? re.size() : 1, column ? 1 : re.size(), re);
}

// Runs `[a, b] = travo(...)` or `travo(...)`; `fail_at` > 0 makes that allocation of the call fail.
Outcome run_host(const std::string &example, int fail_at) {
    const auto open = example.find("travo("), eq = example.find('=');
    const int nlhs = eq == npos ? 1 : 1 + int(std::count(example.begin(), example.begin() + eq, ','));
    std::vector<host::Array> owned;
    for (const auto &arg : split(example.substr(open + 6, example.rfind(')') - open - 6), ',')) {
        owned.push_back(octave(arg));
    }
    host::fail_allocation(fail_at);
    Outcome out = call_with(nlhs, owned);
    host::fail_allocation(0);
    return out;
}

// Runs the C statements of a library or reentrant example from the state its section describes. `NAME = VALUE`
// stores a number, NAN or the double at another NAME; `fn(args)` calls that function, each argument read as its
// parameter's type: a pointer by its name, or a number, a kind or SIZE_MAX.
struct CExample {
    double x[2] = {0.1, -0.2}, g[4], v[4], h[4], h0[2], h1[2], *rows[2] = {h0, h1};
    char why[256];
    travo_params p = travo_params_default(2);
    travo_member *f = nullptr, *made = nullptr;
    std::map<std::string, void *> names;
    std::map<std::string, std::function<double(const Args &)>> fns;

    CExample() {
        EXPECT_EQ(travo_member_new(&p, &f, nullptr, 0), TRAVO_STATUS_OK);
        names = {{"NULL", nullptr}, {"x", x}, {"g", g},      {"v", v},  {"h", h},
                 {"why", why},      {"f", f}, {"&f", &made}, {"&p", &p}};
        add("TRAVO_set_default", TRAVO_set_default, "TRAVO_domain_alloc", TRAVO_domain_alloc, "TRAVO_parameters_check",
            TRAVO_parameters_check, "TRAVO_alloc", TRAVO_alloc, "TRAVO_coincidence_check", TRAVO_coincidence_check,
            "TRAVO_arg_generate", TRAVO_arg_generate, "TRAVO_D_gradient", TRAVO_D_gradient, "TRAVO_D2_hessian",
            TRAVO_D2_hessian, "TRAVO_ND_func", TRAVO_ND_func, "TRAVO_D2_func", TRAVO_D2_func, "TRAVO_D2_deriv2",
            TRAVO_D2_deriv2, "travo_member_new", travo_member_new, "travo_member_value", travo_member_value,
            "travo_member_gradient", travo_member_gradient, "travo_member_hessian", travo_member_hessian,
            "travo_member_values", travo_member_values);
        fns["TRAVO_domain_free"] = [](const Args &) { return (TRAVO_domain_free(), 0.0); };
        fns["ranf_array"] = [](const Args &a) {  // a[0] after the call; 7 before it
            std::vector<double> buf(std::max(std::stoul(a.at(1)), 1ul), 7.0);
            ranf_array(buf.data(), std::stoi(a.at(1)));
            return buf[0];
        };
    }
    CExample(const CExample &) = delete;
    ~CExample() {
        travo_member_free(made);
        travo_member_free(f);
    }

    template <class T>
    T arg(const std::string &a) {
        if constexpr (std::is_same_v<T, double **>) {
            return rows;  // the library's Hessian
        } else if constexpr (std::is_pointer_v<T>) {
            return static_cast<T>(names.at(a));
        } else {
            const std::vector<std::string> kinds = {"TRAVO_KIND_ND", "TRAVO_KIND_D", "TRAVO_KIND_D2"};
            const auto kind = std::size_t(std::find(kinds.begin(), kinds.end(), a) - kinds.begin());
            return static_cast<T>(a == "SIZE_MAX" ? SIZE_MAX : kind < kinds.size() ? kind : std::stoull(a));
        }
    }
    template <class R, class... P, class... More>
    void add(const std::string &name, R (*fn)(P...), More... more) {
        fns[name] = [this, fn](const Args &a) {
            return [&]<std::size_t... I>(std::index_sequence<I...>)->double { return fn(arg<P>(a.at(I))...); }
            (std::index_sequence_for<P...>{});
        };
        if constexpr (sizeof...(More) > 0) add(more...);
    }
    double *place(const std::string &name) {  // NAME, NAME[i] or NAME[i][j]
        std::vector<std::size_t> i;
        for (auto at = name.find('['); at != npos; at = name.find('[', at + 1))
            i.push_back(std::stoul(name.substr(at + 1)));
        const std::string base = name.substr(0, name.find('['));
        if (base == "TRAVO_global_value") return &TRAVO_global_value;
        if (base == "TRAVO_global_dist") return &TRAVO_global_dist;
        if (base == "TRAVO_global_radius") return &TRAVO_global_radius;
        if (base == "TRAVO_domain_left") return &TRAVO_domain_left[i.at(0)];
        if (base == "TRAVO_domain_right") return &TRAVO_domain_right[i.at(0)];
        if (base == "TRAVO_minima.points") return &TRAVO_minima.points[i.at(0)][i.at(1)];
        if (base == "p.distance") return &p.distance;
        if (base == "x") return &x[i.at(0)];
        throw std::runtime_error("unknown name: " + name);
    }
    // Returns what the last call returned; `failing` fails the first allocation of the last statement.
    double run(const std::string &example, bool failing = false) {
        auto statements = split(example, ';');
        if (statements.back().empty()) statements.pop_back();
        double last = 0.0;
        for (std::size_t k = 0; k < statements.size(); k++) {
            const std::string &s = statements[k];
            host::fail_allocation(failing && k + 1 == statements.size() ? 1 : 0);
            if (const auto eq = s.find('='); eq != npos) {
                const std::string lhs = trim(s.substr(0, eq)), rhs = trim(s.substr(eq + 1));
                const double value = std::isalpha(static_cast<unsigned char>(rhs[0])) && rhs != "NAN" ? *place(rhs)
                                                                                                      : scalar(rhs);
                if (lhs == "TRAVO_dim" || lhs == "TRAVO_num_minima") {
                    (lhs == "TRAVO_dim" ? TRAVO_dim : TRAVO_num_minima) = static_cast<uint32_t>(value);
                } else {
                    *place(lhs) = value;
                }
                continue;
            }
            const auto open = s.find('(');
            Args a = split(s.substr(open + 1, s.size() - open - 2), ',');
            if (a == Args{""}) a.clear();
            last = fns.at(s.substr(0, open))(a);
        }
        host::fail_allocation(0);
        return last;
    }
};

// The first group of every match of `pattern` in a source file.
std::set<std::string> matches(const std::string &path, const std::string &pattern) {
    const std::string src = read_source(path);
    const std::regex re(pattern);
    std::set<std::string> out;
    for (std::sregex_iterator m(src.begin(), src.end(), re), end; m != end; ++m) out.insert((*m)[1]);
    return out;
}
const char kMessages[] = R"(const char k\w+\[\] =\s*("[^"]*"))";  // the gateway's, quoted
const char kStatuses[] = R"(\n\s*TRAVO_\w+ = ([1-9]\d*))";        // a header's, other than 0

class BadInputDoc : public GatewayTest {
protected:
    // The module-wide state at load: no tables, no box, everything zero.
    static void reset_library() {
        reset();
        forget_call_member();
        TRAVO_global_value = TRAVO_global_dist = TRAVO_global_radius = 0.0;
    }
};

}  // namespace

// Rows ending "N-th host allocation fails" make that allocation of the call fail.
TEST_F(BadInputDoc, HostEntryExamplesGiveTheirMessageOrValues) {
    const auto messages = each_row("Host entry", "Message", [](const Row &row) {
        const auto at = row.at(2).find(" host allocation fails");
        const int fail_at = at == npos ? 0 : std::stoi(row.at(2).substr(row.at(2).rfind(' ', at - 1) + 1));
        EXPECT_TRUE(Fails(run_host(code(row.at(2)), fail_at), unquote(row.at(0))));
    });
    EXPECT_EQ(messages, matches("src/gateway/gateway.cpp", kMessages)) << "every message of the gateway has one row";
    each_row("Host entry", "Input", [](const Row &row) {
        const Outcome out = run_host(code(row.at(1)), 0);
        const host::Array want = octave(code(row.at(2)));
        ASSERT_TRUE(out.ok) << out.error;
        ASSERT_EQ(out.result.rows * 100 + out.result.cols, mxGetM(want.get()) * 100 + mxGetN(want.get()));
        for (std::size_t k = 0; k < out.result.data.size(); k++) {
            const double w = mxGetPr(want.get())[k], g = out.result.data[k];
            EXPECT_TRUE((std::isnan(w) && std::isnan(g)) || std::fabs(w - g) <= 1e-9 * std::fmax(1.0, std::fabs(w)))
                << "element " << k << " is " << g;
        }
    });
}

// Every status of travo.h and member.h has a row; what a failure leaves allocated can be released.
TEST_F(BadInputDoc, CExamplesGiveTheirStatusOrValue) {
    for (const std::string header : {"travo.h", "member.h"}) {
        const auto statuses = each_row(header == "travo.h" ? "Library" : "Reentrant", "Status", [](const Row &row) {
            reset_library();
            const auto before = host::live_blocks();
            EXPECT_EQ(CExample().run(code(row.at(3)), row.at(3).find("mxMalloc returns NULL") != npos),
                      std::stoi(row.at(0)));
            reset_library();
            EXPECT_EQ(host::live_blocks(), before);
        });
        const auto own = matches("include/travo/" + header, kStatuses);
        EXPECT_TRUE(std::includes(statuses.begin(), statuses.end(), own.begin(), own.end())) << header;
    }
    each_row("Library", "Cause", [](const Row &row) {
        reset_library();
        EXPECT_EQ(CExample().run(code(row.at(1))), std::stod(row.at(2)));
        reset_library();
    });
}

// Each C++ example throws the exception its row names, a travo::Error with the row's status.
TEST_F(BadInputDoc, CppExamplesThrowWhatTheirRowSays) {
    travo::Parameters p;
    travo::Member f = travo::generate(p), moved = travo::generate(p), g = std::move(moved);
    const std::vector<double> x{0.1, -0.2};
    p.distance = 1;
    const std::map<std::string, std::function<void()>> examples = {
        {"auto g = std::move(f); f.dim()", [&] { (void)moved.dim(); }},  // NOLINT(bugprone-use-after-move): the fault
        {"f.value(travo::Kind::D2, std::vector<double>{0.1})",
         [&] { (void)f.value(travo::Kind::D2, std::vector<double>{0.1}); }},
        {"f.gradient(travo::Kind::ND, x)", [&] { (void)f.gradient(travo::Kind::ND, x); }},
        {"p.distance = 1; travo::generate(p)", [&] { (void)travo::generate(p); }},
    };
    const auto faults = each_row("C++ interface", "Fault", [&examples](const Row &row) {
        const auto &example = examples.at(code(row.at(1)));
        std::string thrown = "nothing";
        try {
            example();
        } catch (const travo::Error &e) {
            thrown = "travo::Error";
            EXPECT_NE(row.at(2).find("(here " + std::to_string(static_cast<int>(e.status())) + ")"), npos) << "status";
        } catch (const std::invalid_argument &) {
            thrown = "std::invalid_argument";
        } catch (const std::logic_error &) {
            thrown = "std::logic_error";
        }
        EXPECT_EQ(thrown, code(row.at(2)));
    });
    EXPECT_EQ(faults.size(), examples.size());
}

#ifdef TRAVO_CLI
class BadInputDocTool : public ToolTest {};

// Each example, in an empty folder, ends with its status and one-line message, no output and no file. A second
// code span after "standard input" is the input, `\n` a line break.
TEST_F(BadInputDocTool, ToolExamplesGiveTheirMessageAndStatus) {
    std::set<std::string> options;
    each_row("Command-line tool", "Input", [&](const Row &row) {
        std::string input;
        if (const auto at = row.at(1).find("standard input"); at != npos) {
            input = code(row.at(1).substr(at)) + "\n";
            for (std::size_t p; (p = input.find("\\n")) != npos;) input.replace(p, 2, "\n");
        }
        const ToolRun r = shell(code(row.at(1)), input);
        const std::string message = unquote(row.at(3));
        EXPECT_EQ(std::tuple(r.status, r.err.substr(0, r.err.find('\n')), r.out),
                  std::tuple(std::stoi(row.at(2)), "travo: error: " + message, std::string()));
        EXPECT_TRUE(fs::is_empty(dir_)) << "a file left";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        if (message.rfind("--", 0) == 0) options.insert(message.substr(0, message.find_first_of(": ")));
    });
    for (const char *o : {"--dim", "--minima", "--global-value", "--distance", "--radius", "--test", "--box",
                          "--format", "--kind", "--gradient", "--hessian", "--threads", "--axes", "--size", "--levels",
                          "--resolution", "--output", "--tolerance"}) {
        EXPECT_EQ(options.count(o), 1u) << "no row for " << o;
    }
}
#endif
