// docs/bad-input.md cannot drift: every example of the host entry, of the
// library and of the command-line tool is run as written and must give the
// message, status or values of its row; every message of the host entry and
// every status of the library must have a row.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/gateway_fixture.hpp"
#ifdef TRAVO_CLI
#include "support/tool.hpp"
#endif

using namespace travo::testing;
namespace host = travo::host;

namespace {

std::string read_file(const std::string &path) {
    std::ifstream f(path);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string trim(const std::string &s) {
    const auto b = s.find_first_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Body rows of the tables of one "## " section, keyed by the header's first
// cell; each row is its cells.
using Table = std::vector<std::vector<std::string>>;
std::map<std::string, Table> tables_of(const std::string &heading) {
    std::map<std::string, Table> tables;
    std::istringstream in(read_file(TRAVO_SOURCE_DIR "/docs/bad-input.md"));
    std::string header;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) {
            inside = line.rfind("## " + heading, 0) == 0;
            continue;
        }
        if (!inside || line.empty() || line[0] != '|') {
            header.clear();
            continue;
        }
        std::vector<std::string> cells;
        for (std::size_t start = 1, bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1) {
            cells.push_back(trim(line.substr(start, bar - start)));
        }
        if (header.empty()) {
            header = cells.at(0);
        } else if (cells.at(0).rfind("---", 0) != 0) {
            tables[header].push_back(cells);
        }
    }
    return tables;
}

std::string code_span(const std::string &cell) {
    const auto b = cell.find('`'), e = cell.find('`', b + 1);
    if (b == std::string::npos || e == std::string::npos) throw std::runtime_error("no code in: " + cell);
    return cell.substr(b + 1, e - b - 1);
}

std::string unquote(const std::string &cell) {
    if (cell.size() < 2 || cell.front() != '"' || cell.back() != '"') throw std::runtime_error("not quoted: " + cell);
    return cell.substr(1, cell.size() - 2);
}

// A value of the Octave expressions of the examples: numbers (with unary
// minus, one division, NaN), quoted texts, [a b; c d], zeros(r, c) and
// single(x). Anything else is refused, so a new example cannot go unread.
struct Value {
    mxClassID cls = mxDOUBLE_CLASS;
    std::size_t rows = 1, cols = 1;
    std::vector<double> re;
    std::string text;

    host::Array array() const {
        if (cls == mxCHAR_CLASS) return host::text(text);
        if (cls == mxDOUBLE_CLASS) return host::matrix(rows, cols, re);
        host::Array a = host::numeric(cls, rows, cols);
        for (std::size_t k = 0; k < re.size(); k++) static_cast<float *>(mxGetData(a.get()))[k] = float(re[k]);
        return a;
    }
};

double scalar(const std::string &s) {
    if (s == "NaN") return NAN;
    if (!s.empty() && s[0] == '-') return -scalar(trim(s.substr(1)));
    if (const auto slash = s.find('/'); slash != std::string::npos) {
        return scalar(trim(s.substr(0, slash))) / scalar(trim(s.substr(slash + 1)));
    }
    std::size_t used = 0;
    const double v = std::stod(s, &used);
    if (used != s.size()) throw std::runtime_error("cannot read " + s);
    return v;
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

Value parse(const std::string &s) {
    Value v;
    const auto inner = [&s](std::size_t from) { return s.substr(from, s.size() - from - 1); };
    if (s.front() == '\'') {
        v.cls = mxCHAR_CLASS;
        v.text = inner(1);
    } else if (s.rfind("single(", 0) == 0) {
        v = parse(inner(7));
        v.cls = mxSINGLE_CLASS;
    } else if (s.rfind("zeros(", 0) == 0) {
        const auto dims = split(inner(6), ',');
        v.rows = static_cast<std::size_t>(scalar(dims.at(0)));
        v.cols = static_cast<std::size_t>(scalar(dims.at(1)));
        v.re.assign(v.rows * v.cols, 0.0);
    } else if (s.front() == '[') {
        std::vector<std::vector<double>> rows;
        for (const auto &r : split(inner(1), ';')) {
            std::istringstream in(r);
            rows.emplace_back();
            for (std::string e; in >> e;) rows.back().push_back(scalar(e));
        }
        v.rows = rows[0].empty() ? 0 : rows.size();
        v.cols = rows[0].size();
        for (std::size_t j = 0; j < v.cols; j++) {
            for (std::size_t i = 0; i < v.rows; i++) v.re.push_back(rows[i].at(j));
        }
    } else {
        v.re = {scalar(s)};
    }
    return v;
}

// Runs `[a, b] = travo(...)` or `travo(...)`; `fail_at` > 0 makes that
// allocation of the call fail.
Outcome run_host(const std::string &example, int fail_at) {
    const auto open = example.find("travo("), eq = example.find('=');
    const int nlhs = eq == std::string::npos ? 1 : 1 + int(std::count(example.begin(), example.begin() + eq, ','));
    std::vector<host::Array> owned;
    for (const auto &arg : split(example.substr(open + 6, example.rfind(')') - open - 6), ',')) {
        owned.push_back(parse(arg).array());
    }
    host::fail_allocation(fail_at);
    Outcome out = call_with(nlhs, owned);
    host::fail_allocation(0);
    return out;
}

// The library examples: statements separated by semicolons, each an
// assignment to the module-wide state or to x, or a call of an operation;
// `failing` makes the first allocation of the last statement fail.
class Library {
public:
    double run(const std::string &example, bool failing) {
        auto statements = split(example, ';');
        if (statements.back().empty()) statements.pop_back();
        double last = 0.0;
        for (std::size_t k = 0; k < statements.size(); k++) {
            host::fail_allocation(failing && k + 1 == statements.size() ? 1 : 0);
            last = statement(statements[k]);
            host::fail_allocation(0);
        }
        return last;
    }

private:
    double statement(const std::string &s) {
        if (const auto eq = s.find('='); eq != std::string::npos) {
            const std::string lhs = trim(s.substr(0, eq)), rhs = trim(s.substr(eq + 1));
            const double v = rhs == "NAN" ? NAN : std::isdigit(static_cast<unsigned char>(rhs.back())) ? scalar(rhs)
                                                                                                      : *place(rhs);
            if (lhs == "TRAVO_dim") TRAVO_dim = static_cast<uint32_t>(v);
            else if (lhs == "TRAVO_num_minima") TRAVO_num_minima = static_cast<uint32_t>(v);
            else *place(lhs) = v;
            return 0.0;
        }
        const auto open = s.find('(');
        std::vector<uint32_t> a;  // the numbers among the arguments
        for (const auto &t : split(s.substr(open + 1, s.size() - open - 2), ',')) {
            if (std::isdigit(static_cast<unsigned char>(t[0]))) a.push_back(static_cast<uint32_t>(std::stoul(t)));
        }
        const std::map<std::string, std::function<double()>> ops = {
            {"TRAVO_set_default", [] { return TRAVO_set_default(); }},
            {"TRAVO_domain_alloc", [] { return TRAVO_domain_alloc(); }},
            {"TRAVO_parameters_check", [] { return TRAVO_parameters_check(); }},
            {"TRAVO_alloc", [] { return TRAVO_alloc(); }},
            {"TRAVO_coincidence_check", [] { return TRAVO_coincidence_check(); }},
            {"TRAVO_arg_generate", [&] { return TRAVO_arg_generate(static_cast<int32_t>(a.at(0))); }},
            {"TRAVO_D_gradient", [&] { return TRAVO_D_gradient(x_, g_); }},
            {"TRAVO_D2_hessian", [&] { return TRAVO_D2_hessian(x_, h_); }},
            {"TRAVO_ND_func", [&] { return TRAVO_ND_func(x_); }},
            {"TRAVO_D2_func", [&] { return TRAVO_D2_func(x_); }},
            {"TRAVO_D2_deriv2", [&] { return TRAVO_D2_deriv2(a.at(0), a.at(1), x_); }},
        };
        return ops.at(s.substr(0, open))();
    }

    // NAME, NAME[i] or NAME[i][j].
    double *place(const std::string &name) {
        const std::string base = name.substr(0, name.find('['));
        std::vector<std::size_t> i;
        for (std::size_t p = base.size(); (p = name.find('[', p)) != std::string::npos; p++) {
            i.push_back(std::stoul(name.substr(p + 1)));
        }
        if (base == "TRAVO_global_value") return &TRAVO_global_value;
        if (base == "TRAVO_global_dist") return &TRAVO_global_dist;
        if (base == "TRAVO_global_radius") return &TRAVO_global_radius;
        if (base == "TRAVO_domain_right") return &TRAVO_domain_right[i.at(0)];
        if (base == "TRAVO_minima.points") return &TRAVO_minima.points[i.at(0)][i.at(1)];
        if (base == "x") return &x_[i.at(0)];
        throw std::runtime_error("unknown name: " + name);
    }

    double x_[2] = {0.1, -0.2}, g_[2] = {0, 0}, rows_[2][2] = {{0, 0}, {0, 0}};
    double *h_[2] = {rows_[0], rows_[1]};
};

// The messages defined in the gateway's source: `const char kName[] = "...";`,
// the text possibly on the next line.
std::set<std::string> gateway_messages() {
    const std::string src = read_file(TRAVO_SOURCE_DIR "/src/gateway/gateway.cpp");
    std::set<std::string> out;
    for (std::size_t p = 0; (p = src.find("const char k", p)) != std::string::npos; p++) {
        const auto eq = src.find("[] =", p);
        if (eq == std::string::npos || src.find(';', p) < eq) continue;
        const auto b = src.find('"', eq), e = src.find('"', b + 1);
        out.insert(src.substr(b + 1, e - b - 1));
    }
    return out;
}

// The statuses of travo.h: enumerators `TRAVO_NAME = N` other than 0.
std::set<int> library_statuses() {
    std::istringstream h(read_file(TRAVO_SOURCE_DIR "/include/travo/travo.h"));
    std::set<int> out;
    for (std::string line; std::getline(h, line);) {
        const std::string t = trim(line);
        const auto eq = t.find(" = ");
        if (t.rfind("TRAVO_", 0) != 0 || eq == std::string::npos) continue;
        if (const int s = std::stoi(t.substr(eq + 3)); s != 0) out.insert(s);
    }
    return out;
}

// N in "..., N-th host allocation fails", or 0.
int failing_allocation(const std::string &cell) {
    const auto at = cell.find(" host allocation fails");
    return at == std::string::npos ? 0 : std::stoi(cell.substr(cell.rfind(' ', at - 1) + 1));
}

class BadInputDoc : public GatewayTest {
protected:
    void TearDown() override {
        reset_library();
        GatewayTest::TearDown();
    }
    // The state at load: no tables, no box, everything zero.
    static void reset_library() {
        if (TRAVO_minima.points != nullptr) TRAVO_free();
        if (TRAVO_domain_left != nullptr || TRAVO_domain_right != nullptr) TRAVO_domain_free();
        forget_call_member();
        TRAVO_global_value = TRAVO_global_dist = TRAVO_global_radius = 0.0;
    }
};

}  // namespace

TEST_F(BadInputDoc, HostEntryExamplesGiveTheirMessageOrValues) {
    auto tables = tables_of("Host entry");
    std::set<std::string> documented;
    for (const auto &row : tables["Message"]) {
        const std::string message = unquote(row.at(0));
        documented.insert(message);
        EXPECT_TRUE(Fails(run_host(code_span(row.at(2)), failing_allocation(row.at(2))), message)) << row.at(2);
    }
    EXPECT_EQ(documented, gateway_messages()) << "every message of the gateway has one row";
    ASSERT_FALSE(tables["Input"].empty());
    for (const auto &row : tables["Input"]) {
        const Outcome out = run_host(code_span(row.at(1)), 0);
        ASSERT_TRUE(out.ok) << row.at(1) << ": " << out.error;
        const Value want = parse(code_span(row.at(2)));
        ASSERT_EQ(out.result.rows * 100 + out.result.cols, want.rows * 100 + want.cols) << row.at(1);
        for (std::size_t k = 0; k < want.re.size(); k++) {
            const double w = want.re[k], g = out.result.data[k];
            EXPECT_TRUE((std::isnan(w) && std::isnan(g)) || std::fabs(w - g) <= 1e-9 * std::fmax(1.0, std::fabs(w)))
                << row.at(1) << ": element " << k << " is " << g;
        }
    }
}

TEST_F(BadInputDoc, LibraryExamplesGiveTheirStatusOrValue) {
    auto tables = tables_of("Library");
    std::set<int> documented;
    for (const auto &row : tables["Status"]) {
        reset_library();
        const int status = std::stoi(row.at(0));
        documented.insert(status);
        const bool failing = row.at(3).find("mxMalloc returns NULL") != std::string::npos;
        const auto before = host::live_blocks();
        EXPECT_EQ(Library().run(code_span(row.at(3)), failing), status) << row.at(3);
        // What a failure leaves allocated is referenced, so it can be released.
        reset_library();
        EXPECT_EQ(host::live_blocks(), before) << row.at(3);
    }
    EXPECT_EQ(documented, library_statuses()) << "every status of travo.h has a row";
    ASSERT_FALSE(tables["Cause"].empty());
    for (const auto &row : tables["Cause"]) {
        reset_library();
        EXPECT_EQ(Library().run(code_span(row.at(1)), false), std::stod(row.at(2))) << row.at(1);
    }
}

#ifdef TRAVO_CLI
class BadInputDocTool : public ToolTest {};

// Each example runs in an empty folder: it must end with its exit status and
// its one-line message, write nothing to standard output and leave no file.
TEST_F(BadInputDocTool, ToolExamplesGiveTheirMessageAndStatus) {
    const Table rows = tables_of("Command-line tool")["Input"];
    ASSERT_GE(rows.size(), 20u);
    std::set<std::string> options;
    for (const auto &row : rows) {
        std::string input;  // a second code span, after "standard input"
        if (const auto at = row.at(1).find("standard input"); at != std::string::npos) {
            input = code_span(row.at(1).substr(at)) + "\n";
            for (std::size_t p; (p = input.find("\\n")) != std::string::npos;) input.replace(p, 2, "\n");
        }
        const ToolRun r = shell(code_span(row.at(1)), input);
        EXPECT_EQ(r.status, std::stoi(row.at(2))) << row.at(1);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "travo: error: " + unquote(row.at(3))) << row.at(1);
        EXPECT_TRUE(r.out.empty()) << row.at(1);
        EXPECT_TRUE(fs::is_empty(dir_)) << row.at(1) << " left a file";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string message = unquote(row.at(3));
        if (message.rfind("--", 0) == 0) options.insert(message.substr(0, message.find_first_of(": ")));
    }
    for (const char *o : {"--dim", "--minima", "--global-value", "--distance", "--radius", "--test", "--box",
                          "--format", "--kind", "--gradient", "--hessian", "--threads", "--axes", "--size",
                          "--levels", "--resolution", "--output"}) {
        EXPECT_EQ(options.count(o), 1u) << "no row for " << o;
    }
}
#endif
