// docs/bad-input.md cannot drift: every example of the host entry, of the
// library and of the command-line tool is run as written and must give the
// message, status or values of its row; every message of the host entry,
// every status of the library and every refusable option of the tool must
// have a row.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
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

std::string read_source(const std::string &path) {
    std::ifstream f(TRAVO_SOURCE_DIR "/" + path);
    if (!f) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
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
    std::istringstream in(read_source("docs/bad-input.md"));
    std::string header;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inside = line.rfind("## " + heading, 0) == 0;
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

// The first code span of a cell, and the text of a quoted cell.
std::string code(const std::string &cell) {
    const auto b = cell.find('`'), e = cell.find('`', b + 1);
    if (e == std::string::npos) throw std::runtime_error("no code in: " + cell);
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

// A number of the examples: NaN, a decimal, a negation or a quotient.
double scalar(const std::string &s) {
    if (s == "NaN" || s == "NAN") return kNaN;
    if (!s.empty() && s[0] == '-') return -scalar(trim(s.substr(1)));
    if (const auto slash = s.find('/'); slash != std::string::npos) {
        return scalar(trim(s.substr(0, slash))) / scalar(trim(s.substr(slash + 1)));
    }
    std::size_t used = 0;
    const double v = std::stod(s, &used);
    if (used != s.size()) throw std::runtime_error("cannot read " + s);
    return v;
}

// A value of the Octave expressions of the examples: numbers, quoted texts,
// [a b; c d], zeros(r, c) and single(x). Anything else is refused, so a new
// example cannot go unread.
struct Value {
    mxClassID cls = mxDOUBLE_CLASS;
    std::size_t rows = 1, cols = 1;
    std::vector<double> re;
    std::string text;

    explicit Value(const std::string &s) {
        const auto inner = [&s](std::size_t from) { return s.substr(from, s.size() - from - 1); };
        if (s.front() == '\'') {
            cls = mxCHAR_CLASS;
            text = inner(1);
        } else if (s.rfind("single(", 0) == 0) {
            *this = Value(inner(7));
            cls = mxSINGLE_CLASS;
        } else if (s.rfind("zeros(", 0) == 0) {
            const auto dims = split(inner(6), ',');
            rows = static_cast<std::size_t>(scalar(dims.at(0)));
            cols = static_cast<std::size_t>(scalar(dims.at(1)));
            re.assign(rows * cols, 0.0);
        } else if (s.front() == '[') {
            std::vector<std::vector<double>> m;
            for (const auto &r : split(inner(1), ';')) {
                std::istringstream in(r);
                m.emplace_back();
                for (std::string e; in >> e;) m.back().push_back(scalar(e));
            }
            rows = m[0].empty() ? 0 : m.size();
            cols = m[0].size();
            for (std::size_t j = 0; j < cols; j++) {
                for (std::size_t i = 0; i < rows; i++) re.push_back(m[i].at(j));
            }
        } else {
            re = {scalar(s)};
        }
    }
    host::Array array() const {
        if (cls == mxCHAR_CLASS) return host::text(text);
        if (cls == mxDOUBLE_CLASS) return host::matrix(rows, cols, re);
        host::Array a = host::numeric(cls, rows, cols);
        for (std::size_t k = 0; k < re.size(); k++) static_cast<float *>(mxGetData(a.get()))[k] = float(re[k]);
        return a;
    }
};

// Runs `[a, b] = travo(...)` or `travo(...)`; `fail_at` > 0 makes that
// allocation of the call fail.
Outcome run_host(const std::string &example, int fail_at) {
    const auto open = example.find("travo("), eq = example.find('=');
    const int nlhs = eq == std::string::npos ? 1 : 1 + int(std::count(example.begin(), example.begin() + eq, ','));
    std::vector<host::Array> owned;
    for (const auto &arg : split(example.substr(open + 6, example.rfind(')') - open - 6), ',')) {
        owned.push_back(Value(arg).array());
    }
    host::fail_allocation(fail_at);
    Outcome out = call_with(nlhs, owned);
    host::fail_allocation(0);
    return out;
}

// Runs a library example: statements separated by semicolons, each an
// assignment to the module-wide state or to x, or a call of an operation;
// `failing` makes the first allocation of the last statement fail. x is
// (0.1, -0.2), g two doubles, h two rows of two.
double run_library(const std::string &example, bool failing) {
    double x[2] = {0.1, -0.2}, g[2], h0[2], h1[2], *h[2] = {h0, h1};
    auto place = [&x](const std::string &name) -> double * {  // NAME, NAME[i] or NAME[i][j]
        std::vector<std::size_t> i;
        for (std::size_t p = name.find('['); p != std::string::npos; p = name.find('[', p + 1)) {
            i.push_back(std::stoul(name.substr(p + 1)));
        }
        const std::string base = name.substr(0, name.find('['));
        if (base == "TRAVO_global_value") return &TRAVO_global_value;
        if (base == "TRAVO_global_dist") return &TRAVO_global_dist;
        if (base == "TRAVO_global_radius") return &TRAVO_global_radius;
        if (base == "TRAVO_domain_left") return &TRAVO_domain_left[i.at(0)];
        if (base == "TRAVO_domain_right") return &TRAVO_domain_right[i.at(0)];
        if (base == "TRAVO_minima.points") return &TRAVO_minima.points[i.at(0)][i.at(1)];
        if (base == "x") return &x[i.at(0)];
        throw std::runtime_error("unknown name: " + name);
    };
    auto statements = split(example, ';');
    if (statements.back().empty()) statements.pop_back();
    double last = 0.0;
    for (std::size_t k = 0; k < statements.size(); k++) {
        const std::string &s = statements[k];
        host::fail_allocation(failing && k + 1 == statements.size() ? 1 : 0);
        if (const auto eq = s.find('='); eq != std::string::npos) {
            const std::string lhs = trim(s.substr(0, eq)), rhs = trim(s.substr(eq + 1));
            const bool named = std::isalpha(static_cast<unsigned char>(rhs[0])) && rhs != "NAN";
            const double v = named ? *place(rhs) : scalar(rhs);
            if (lhs == "TRAVO_dim")
                TRAVO_dim = static_cast<uint32_t>(v);
            else if (lhs == "TRAVO_num_minima")
                TRAVO_num_minima = static_cast<uint32_t>(v);
            else
                *place(lhs) = v;
            continue;
        }
        const auto open = s.find('(');
        std::vector<uint32_t> a;  // the numbers among the arguments
        const double *point = x;  // NULL for the point
        for (const auto &t : split(s.substr(open + 1, s.size() - open - 2), ',')) {
            if (std::isdigit(static_cast<unsigned char>(t[0]))) a.push_back(static_cast<uint32_t>(std::stoul(t)));
            if (t == "NULL") point = nullptr;
        }
        const std::map<std::string, std::function<double()>> ops = {
            {"TRAVO_set_default", [] { return TRAVO_set_default(); }},
            {"TRAVO_domain_alloc", [] { return TRAVO_domain_alloc(); }},
            {"TRAVO_parameters_check", [] { return TRAVO_parameters_check(); }},
            {"TRAVO_alloc", [] { return TRAVO_alloc(); }},
            {"TRAVO_coincidence_check", [] { return TRAVO_coincidence_check(); }},
            {"TRAVO_arg_generate", [&] { return TRAVO_arg_generate(static_cast<int32_t>(a.at(0))); }},
            {"TRAVO_D_gradient", [&] { return TRAVO_D_gradient(x, g); }},
            {"TRAVO_D2_hessian", [&] { return TRAVO_D2_hessian(x, h); }},
            {"TRAVO_ND_func", [&] { return TRAVO_ND_func(x); }},
            {"TRAVO_D2_func", [&] { return TRAVO_D2_func(point); }},
            {"TRAVO_domain_free", [] { return (TRAVO_domain_free(), 0.0); }},
            {"ranf_array",
             [&] {  // a[0] after the call; 7 before it
                 std::vector<double> buf(std::max<uint32_t>(a.at(0), 1), 7.0);
                 ranf_array(buf.data(), static_cast<int32_t>(a.at(0)));
                 return buf[0];
             }},
            {"TRAVO_D2_deriv2", [&] { return TRAVO_D2_deriv2(a.at(0), a.at(1), x); }},
        };
        last = ops.at(s.substr(0, open))();
    }
    host::fail_allocation(0);
    return last;
}

// The messages of the gateway's source (`const char kName[] = "...";`, the
// text possibly on the next line) and the statuses of travo.h other than 0.
std::set<std::string> gateway_messages() {
    const std::string src = read_source("src/gateway/gateway.cpp");
    std::set<std::string> out;
    for (std::size_t p = 0; (p = src.find("const char k", p)) != std::string::npos; p++) {
        const auto eq = src.find("[] =", p);
        if (eq == std::string::npos || src.find(';', p) < eq) continue;
        const auto b = src.find('"', eq), e = src.find('"', b + 1);
        out.insert(src.substr(b + 1, e - b - 1));
    }
    return out;
}
std::set<int> library_statuses(const std::string &header = "include/travo/travo.h") {
    std::istringstream h(read_source(header));
    std::set<int> out;
    for (std::string line; std::getline(h, line);) {
        const std::string t = trim(line);
        const auto eq = t.find(" = ");
        if (t.rfind("TRAVO_", 0) == 0 && eq != std::string::npos && std::stoi(t.substr(eq + 3)) != 0) {
            out.insert(std::stoi(t.substr(eq + 3)));
        }
    }
    return out;
}

// Runs an example of the reentrant interface: assignments to p's fields or
// to x, then calls of its operations with the arguments named in the doc.
// Returns the status of the last call.
int run_handles(const std::string &example) {
    travo_params p = travo_params_default(2);
    travo_member *f = nullptr, *made = nullptr;
    EXPECT_EQ(travo_member_new(&p, &f, nullptr, 0), TRAVO_STATUS_OK);
    double x[2] = {0.1, -0.2}, g[2], v[4], h[4];
    char why[256];
    const std::map<std::string, void *> names = {{"NULL", nullptr}, {"f", f}, {"&f", &made}, {"&p", &p},  {"x", x},
                                                 {"g", g},          {"v", v}, {"h", h},      {"why", why}};
    const std::map<std::string, double> numbers = {{"TRAVO_KIND_ND", TRAVO_KIND_ND},
                                                   {"TRAVO_KIND_D", TRAVO_KIND_D},
                                                   {"TRAVO_KIND_D2", TRAVO_KIND_D2},
                                                   {"SIZE_MAX", double(SIZE_MAX)}};
    int last = -1;
    for (const auto &s : split(example, ';')) {
        if (const auto eq = s.find('='); eq != std::string::npos) {
            const std::string lhs = trim(s.substr(0, eq));
            const double value = scalar(trim(s.substr(eq + 1)));
            if (lhs == "p.distance")
                p.distance = value;
            else if (lhs == "x[0]")
                x[0] = value;
            else
                throw std::runtime_error("unknown name: " + lhs);
            continue;
        }
        const auto open = s.find('(');
        const auto a = split(s.substr(open + 1, s.size() - open - 2), ',');
        const auto ptr = [&](std::size_t i) { return names.at(a.at(i)); };
        const auto num = [&](std::size_t i) { return numbers.count(a.at(i)) ? numbers.at(a.at(i)) : scalar(a.at(i)); };
        const auto kind = [&](std::size_t i) { return static_cast<travo_kind>(num(i)); };
        const auto dp = [&](std::size_t i) { return static_cast<double *>(ptr(i)); };
        const auto mb = [&] { return static_cast<const travo_member *>(ptr(0)); };
        const auto count = [&](std::size_t i) { return a.at(i) == "SIZE_MAX" ? SIZE_MAX : std::size_t(num(i)); };
        const std::map<std::string, std::function<int()>> ops = {
            {"travo_member_new",
             [&] {
                 return travo_member_new(static_cast<travo_params *>(ptr(0)), static_cast<travo_member **>(ptr(1)),
                                         static_cast<char *>(ptr(2)), count(3));
             }},
            {"travo_member_value", [&] { return travo_member_value(mb(), kind(1), dp(2), dp(3)); }},
            {"travo_member_gradient", [&] { return travo_member_gradient(mb(), kind(1), dp(2), dp(3)); }},
            {"travo_member_hessian", [&] { return travo_member_hessian(mb(), dp(1), dp(2)); }},
            {"travo_member_values",
             [&] { return travo_member_values(mb(), kind(1), dp(2), count(3), dp(4), unsigned(num(5))); }},
        };
        last = ops.at(s.substr(0, open))();
    }
    travo_member_free(made);
    travo_member_free(f);
    return last;
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

// Rows ending "N-th host allocation fails" make that allocation of the call fail.
TEST_F(BadInputDoc, HostEntryExamplesGiveTheirMessageOrValues) {
    auto tables = tables_of("Host entry");
    std::set<std::string> documented;
    for (const auto &row : tables["Message"]) {
        documented.insert(unquote(row.at(0)));
        const auto at = row.at(2).find(" host allocation fails");
        const int fail_at = at == std::string::npos ? 0 : std::stoi(row.at(2).substr(row.at(2).rfind(' ', at - 1) + 1));
        EXPECT_TRUE(Fails(run_host(code(row.at(2)), fail_at), unquote(row.at(0)))) << row.at(2);
    }
    EXPECT_EQ(documented, gateway_messages()) << "every message of the gateway has one row";
    ASSERT_FALSE(tables["Input"].empty());
    for (const auto &row : tables["Input"]) {
        const Outcome out = run_host(code(row.at(1)), 0);
        ASSERT_TRUE(out.ok) << row.at(1) << ": " << out.error;
        const Value want(code(row.at(2)));
        ASSERT_EQ(out.result.rows * 100 + out.result.cols, want.rows * 100 + want.cols) << row.at(1);
        for (std::size_t k = 0; k < want.re.size(); k++) {
            const double w = want.re[k], g = out.result.data[k];
            EXPECT_TRUE((std::isnan(w) && std::isnan(g)) || std::fabs(w - g) <= 1e-9 * std::fmax(1.0, std::fabs(w)))
                << row.at(1) << ": element " << k << " is " << g;
        }
    }
}

// What a failure leaves allocated is referenced, so it can be released.
TEST_F(BadInputDoc, LibraryExamplesGiveTheirStatusOrValue) {
    auto tables = tables_of("Library");
    std::set<int> documented;
    for (const auto &row : tables["Status"]) {
        reset_library();
        documented.insert(std::stoi(row.at(0)));
        const auto before = host::live_blocks();
        const bool failing = row.at(3).find("mxMalloc returns NULL") != std::string::npos;
        EXPECT_EQ(run_library(code(row.at(3)), failing), std::stoi(row.at(0))) << row.at(3);
        reset_library();
        EXPECT_EQ(host::live_blocks(), before) << row.at(3);
    }
    EXPECT_EQ(documented, library_statuses()) << "every status of travo.h has a row";
    ASSERT_FALSE(tables["Cause"].empty());
    for (const auto &row : tables["Cause"]) {
        reset_library();
        EXPECT_EQ(run_library(code(row.at(1)), false), std::stod(row.at(2))) << row.at(1);
    }
}

TEST(BadInputDocHandles, ReentrantExamplesGiveTheirStatus) {
    const Table rows = tables_of("Reentrant")["Status"];
    ASSERT_FALSE(rows.empty());
    std::set<int> documented;
    for (const auto &row : rows) {
        documented.insert(std::stoi(row.at(0)));
        EXPECT_EQ(run_handles(code(row.at(3))), std::stoi(row.at(0))) << row.at(3);
    }
    const std::set<int> own = library_statuses("include/travo/member.h");
    EXPECT_TRUE(std::includes(documented.begin(), documented.end(), own.begin(), own.end()))
        << "every status of member.h has a row";
}

// Each example of the C++ interface throws the exception its row names.
TEST(BadInputDocCpp, ExamplesThrowWhatTheirRowSays) {
    using travo::Kind;
    const std::vector<double> x{0.1, -0.2};
    const std::map<std::string, std::function<void()>> examples = {
        {"auto g = std::move(f); f.dim()",
         [] {
             travo::Member f = travo::generate(travo::Parameters{});
             auto g = std::move(f);
             (void)f.dim();  // NOLINT(bugprone-use-after-move): the fault shown
         }},
        {"f.value(travo::Kind::D2, std::vector<double>{0.1})",
         [] { (void)travo::generate(travo::Parameters{}).value(Kind::D2, std::vector<double>{0.1}); }},
        {"f.gradient(travo::Kind::ND, x)", [&x] { (void)travo::generate(travo::Parameters{}).gradient(Kind::ND, x); }},
        {"p.distance = 1; travo::generate(p)",
         [] {
             travo::Parameters p;
             p.distance = 1;
             (void)travo::generate(p);
         }},
    };
    const Table rows = tables_of("C++ interface")["Fault"];
    ASSERT_EQ(rows.size(), examples.size());
    for (const auto &row : rows) {
        const auto example = examples.find(code(row.at(1)));
        ASSERT_NE(example, examples.end()) << row.at(1);
        std::string thrown = "nothing";
        try {
            example->second();
        } catch (const travo::Error &e) {
            thrown = "travo::Error status " + std::to_string(static_cast<int>(e.status()));
        } catch (const std::invalid_argument &) {
            thrown = "std::invalid_argument";
        } catch (const std::logic_error &) {
            thrown = "std::logic_error";
        }
        const std::string named = code(row.at(2));
        EXPECT_EQ(thrown.rfind(named, 0), 0u) << row.at(1) << " threw " << thrown;
        if (named == "travo::Error") {
            EXPECT_EQ(thrown, "travo::Error status 6");
        }
    }
}

#ifdef TRAVO_CLI
class BadInputDocTool : public ToolTest {};

// Each example runs in an empty folder: it must end with its exit status and
// its one-line message, write nothing to standard output and leave no file.
// A second code span after "standard input" is the input, `\n` a line break.
TEST_F(BadInputDocTool, ToolExamplesGiveTheirMessageAndStatus) {
    const Table rows = tables_of("Command-line tool")["Input"];
    ASSERT_GE(rows.size(), 20u);
    std::set<std::string> options;
    for (const auto &row : rows) {
        std::string input;
        if (const auto at = row.at(1).find("standard input"); at != std::string::npos) {
            input = code(row.at(1).substr(at)) + "\n";
            for (std::size_t p; (p = input.find("\\n")) != std::string::npos;) input.replace(p, 2, "\n");
        }
        const ToolRun r = shell(code(row.at(1)), input);
        const std::string message = unquote(row.at(3));
        EXPECT_EQ(r.status, std::stoi(row.at(2))) << row.at(1);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "travo: error: " + message) << row.at(1);
        EXPECT_TRUE(r.out.empty()) << row.at(1);
        EXPECT_TRUE(fs::is_empty(dir_)) << row.at(1) << " left a file";
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        if (message.rfind("--", 0) == 0) options.insert(message.substr(0, message.find_first_of(": ")));
    }
    for (const char *o : {"--dim", "--minima", "--global-value", "--distance", "--radius", "--test", "--box",
                          "--format", "--kind", "--gradient", "--hessian", "--threads", "--axes", "--size", "--levels",
                          "--resolution", "--output", "--tolerance"}) {
        EXPECT_EQ(options.count(o), 1u) << "no row for " << o;
    }
}
#endif
