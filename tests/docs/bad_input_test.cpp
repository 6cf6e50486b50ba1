// docs/bad-input.md cannot drift: every example of the host entry and of
// the library is run as written and must give the message, status or values
// of its row, and every message of the host entry and every status of the
// library must have a row.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/gateway_fixture.hpp"

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
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Body rows of the tables of one "## " section, keyed by the header's first
// cell; each row is its cells.
using Rows = std::vector<std::vector<std::string>>;
std::map<std::string, Rows> tables_of(const std::string &doc, const std::string &heading) {
    std::map<std::string, Rows> tables;
    std::istringstream in(doc);
    std::string line, header;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) {
            inside = line.rfind("## " + heading, 0) == 0;
            continue;
        }
        if (!inside || line.empty() || line[0] != '|') {
            header.clear();
            continue;
        }
        std::vector<std::string> cells;
        std::size_t start = 1;
        for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1) {
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
    const auto b = cell.find('`');
    const auto e = cell.find('`', b + 1);
    if (b == std::string::npos || e == std::string::npos) throw std::runtime_error("no code in: " + cell);
    return cell.substr(b + 1, e - b - 1);
}

std::string unquote(const std::string &cell) {
    if (cell.size() < 2 || cell.front() != '"' || cell.back() != '"') throw std::runtime_error("not quoted: " + cell);
    return cell.substr(1, cell.size() - 2);
}

// A value of the Octave expressions used in the examples.
struct Value {
    mxClassID cls = mxDOUBLE_CLASS;
    std::size_t rows = 1, cols = 1;
    std::vector<double> re{0.0};
    double im = 0.0;
    bool complex = false, sparse = false;
    std::string text;

    host::Array array() const {
        if (cls == mxCHAR_CLASS) return host::text(text);
        if (complex) return host::complex_scalar(re.at(0), im);
        if (sparse) {
            host::Array a = host::adopt(mxCreateSparse(1, 1, 1, mxREAL));
            *mxGetPr(a.get()) = re.at(0);
            return a;
        }
        if (cls == mxDOUBLE_CLASS) return host::matrix(rows, cols, re);
        host::Array a = host::numeric(cls, rows, cols);
        for (std::size_t k = 0; k < rows * cols; k++) {
            switch (cls) {
            case mxSINGLE_CLASS: static_cast<float *>(mxGetData(a.get()))[k] = static_cast<float>(re[k]); break;
            case mxINT32_CLASS: static_cast<int32_t *>(mxGetData(a.get()))[k] = static_cast<int32_t>(re[k]); break;
            case mxLOGICAL_CLASS: static_cast<mxLogical *>(mxGetData(a.get()))[k] = re[k] != 0; break;
            default: break;
            }
        }
        return a;
    }
};

// Recursive descent over the Octave subset of the examples: numbers, NaN,
// Inf, quoted texts, matrix literals, unary minus, division of scalars, and
// zeros, ones, single, int32, logical, complex and sparse.
class Octave {
public:
    explicit Octave(std::string s) : s_(std::move(s)) {}

    // `[a, b] = travo(...)` or `travo(...)`: the inputs and the outputs asked for.
    std::vector<Value> call(int *nlhs) {
        *nlhs = 1;
        skip();
        if (peek() == '[') {
            const auto eq = s_.find("= travo(");
            if (eq == std::string::npos) fail("outputs");
            *nlhs = 1 + static_cast<int>(std::count(s_.begin(), s_.begin() + eq, ','));
            p_ = eq + 1;
        }
        expect("travo(");
        std::vector<Value> args;
        skip();
        while (peek() != ')') {
            args.push_back(expr());
            skip();
            if (peek() == ',') p_++;
            skip();
        }
        p_++;
        skip();
        if (p_ != s_.size()) fail("trailing text");
        return args;
    }

    Value whole() {
        Value v = expr();
        skip();
        if (p_ != s_.size()) fail("trailing text");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string &what) const {
        throw std::runtime_error("cannot read " + what + " at " + std::to_string(p_) + " of: " + s_);
    }
    char peek() const { return p_ < s_.size() ? s_[p_] : '\0'; }
    void skip() {
        while (peek() == ' ') p_++;
    }
    void expect(const std::string &t) {
        skip();
        if (s_.compare(p_, t.size(), t) != 0) fail("'" + t + "'");
        p_ += t.size();
    }

    Value expr() {
        Value v = unary();
        while (peek() == '/') {
            p_++;
            v.re.at(0) /= unary().re.at(0);
        }
        return v;
    }

    Value unary() {
        skip();
        if (peek() == '-') {
            p_++;
            Value v = unary();
            for (double &d : v.re) d = -d;
            return v;
        }
        return primary();
    }

    Value primary() {
        skip();
        Value v;
        const char c = peek();
        if (c == '\'') {
            const auto e = s_.find('\'', p_ + 1);
            v.cls = mxCHAR_CLASS;
            v.text = s_.substr(p_ + 1, e - p_ - 1);
            p_ = e + 1;
            return v;
        }
        if (c == '[') return matrix();
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            std::size_t used = 0;
            v.re[0] = std::stod(s_.substr(p_), &used);
            p_ += used;
            return v;
        }
        std::size_t e = p_;
        while (e < s_.size() && std::isalnum(static_cast<unsigned char>(s_[e]))) e++;
        const std::string name = s_.substr(p_, e - p_);
        p_ = e;
        if (name == "NaN") v.re[0] = NAN;
        else if (name == "Inf") v.re[0] = INFINITY;
        else if (name == "zeros" || name == "ones") {
            expect("(");
            v.rows = static_cast<std::size_t>(expr().re.at(0));
            expect(",");
            v.cols = static_cast<std::size_t>(expr().re.at(0));
            expect(")");
            v.re.assign(v.rows * v.cols, name == "ones" ? 1.0 : 0.0);
        } else if (name == "single" || name == "int32" || name == "logical" || name == "sparse") {
            expect("(");
            v = expr();
            expect(")");
            if (name == "sparse") v.sparse = true;
            else v.cls = name == "single" ? mxSINGLE_CLASS : name == "int32" ? mxINT32_CLASS : mxLOGICAL_CLASS;
        } else if (name == "complex") {
            expect("(");
            v = expr();
            expect(",");
            v.im = expr().re.at(0);
            expect(")");
            v.complex = true;
        } else {
            fail("'" + name + "'");
        }
        return v;
    }

    // [a b; c d]: elements separated by blanks or commas, rows by semicolons.
    Value matrix() {
        p_++;
        std::vector<std::vector<double>> rows(1);
        for (;;) {
            skip();
            if (peek() == ']') break;
            if (peek() == ';') {
                p_++;
                rows.emplace_back();
                continue;
            }
            if (peek() == ',') {
                p_++;
                continue;
            }
            rows.back().push_back(unary().re.at(0));
        }
        p_++;
        Value v;
        v.rows = rows.back().empty() && rows.size() == 1 ? 0 : rows.size();
        v.cols = v.rows == 0 ? 0 : rows[0].size();
        v.re.assign(v.rows * v.cols, 0.0);
        for (std::size_t i = 0; i < v.rows; i++) {
            if (rows[i].size() != v.cols) fail("ragged matrix");
            for (std::size_t j = 0; j < v.cols; j++) v.re[i + v.rows * j] = rows[i][j];
        }
        return v;
    }

    std::string s_;
    std::size_t p_ = 0;
};

// Runs a host entry example; `fail_at` > 0 makes that allocation of the call fail.
Outcome run_host(const std::string &example, int fail_at) {
    int nlhs = 1;
    std::vector<host::Array> owned;
    for (const Value &v : Octave(example).call(&nlhs)) owned.push_back(v.array());
    std::vector<const mxArray *> in;
    for (const host::Array &a : owned) in.push_back(a.get());
    host::fail_allocation(fail_at);
    Outcome out = host::call(mexFunction, nlhs, in);
    host::fail_allocation(0);
    forget_call_member();
    return out;
}

::testing::AssertionResult SameValues(const Value &want, const Matrix &got) {
    if (want.rows != got.rows || want.cols != got.cols) {
        return ::testing::AssertionFailure() << "result " << got.rows << " x " << got.cols << ", documented "
                                             << want.rows << " x " << want.cols;
    }
    for (std::size_t k = 0; k < got.data.size(); k++) {
        const double w = want.re[k], g = got.data[k];
        const bool same = (std::isnan(w) && std::isnan(g)) || std::fabs(w - g) <= 1e-9 * std::fmax(1.0, std::fabs(w));
        if (!same) return ::testing::AssertionFailure() << "element " << k << " is " << g << ", documented " << w;
    }
    return ::testing::AssertionSuccess();
}

// The library examples: statements separated by semicolons, each an
// assignment to the module-wide state or to x, or a call of an operation.
class Library {
public:
    double run(const std::string &example, bool failing_allocation) {
        std::vector<std::string> statements;
        std::stringstream ss(example);
        for (std::string s; std::getline(ss, s, ';');) {
            if (!trim(s).empty()) statements.push_back(trim(s));
        }
        double last = 0.0;
        for (std::size_t k = 0; k < statements.size(); k++) {
            if (failing_allocation && k + 1 == statements.size()) host::fail_allocation(1);
            last = statement(statements[k]);
            host::fail_allocation(0);
        }
        return last;
    }

private:
    double statement(const std::string &s) {
        if (const auto eq = s.find('='); eq != std::string::npos) {
            const std::string lhs = trim(s.substr(0, eq)), rhs = trim(s.substr(eq + 1));
            const double v = rhs == "NAN" ? NAN : std::isdigit(static_cast<unsigned char>(rhs.back())) != 0
                                                      ? std::stod(rhs)
                                                      : *place(rhs);
            if (lhs == "TRAVO_dim") TRAVO_dim = static_cast<uint32_t>(v);
            else if (lhs == "TRAVO_num_minima") TRAVO_num_minima = static_cast<uint32_t>(v);
            else *place(lhs) = v;
            return 0.0;
        }
        const auto open = s.find('(');
        if (open == std::string::npos || s.back() != ')') throw std::runtime_error("cannot read statement: " + s);
        return invoke(s.substr(0, open), s.substr(open + 1, s.size() - open - 2));
    }

    // NAME, NAME[i] or NAME[i][j].
    double *place(const std::string &name) {
        const std::string base = name.substr(0, name.find('['));
        std::vector<std::size_t> idx;
        for (std::size_t p = base.size(); (p = name.find('[', p)) != std::string::npos; p++) {
            idx.push_back(std::stoul(name.substr(p + 1)));
        }
        if (base == "TRAVO_global_value") return &TRAVO_global_value;
        if (base == "TRAVO_global_dist") return &TRAVO_global_dist;
        if (base == "TRAVO_global_radius") return &TRAVO_global_radius;
        if (base == "TRAVO_domain_left" && idx.size() == 1) return &TRAVO_domain_left[idx[0]];
        if (base == "TRAVO_domain_right" && idx.size() == 1) return &TRAVO_domain_right[idx[0]];
        if (base == "TRAVO_minima.points" && idx.size() == 2) return &TRAVO_minima.points[idx[0]][idx[1]];
        if (base == "x" && idx.size() == 1) return &x_.at(idx[0]);
        throw std::runtime_error("unknown name: " + name);
    }

    double invoke(const std::string &f, const std::string &args) {
        std::vector<std::string> a;
        std::stringstream ss(args);
        for (std::string t; std::getline(ss, t, ',');) a.push_back(trim(t));
        auto u = [&](std::size_t k) { return static_cast<uint32_t>(std::stoul(a.at(k))); };
        if (f == "TRAVO_set_default") return TRAVO_set_default();
        if (f == "TRAVO_domain_alloc") return TRAVO_domain_alloc();
        if (f == "TRAVO_parameters_check") return TRAVO_parameters_check();
        if (f == "TRAVO_alloc") return TRAVO_alloc();
        if (f == "TRAVO_coincidence_check") return TRAVO_coincidence_check();
        if (f == "TRAVO_arg_generate") return TRAVO_arg_generate(static_cast<int32_t>(std::stol(a.at(0))));
        if (f == "TRAVO_D_gradient") return TRAVO_D_gradient(x_.data(), g_);
        if (f == "TRAVO_D2_gradient") return TRAVO_D2_gradient(x_.data(), g_);
        if (f == "TRAVO_D2_hessian") return TRAVO_D2_hessian(x_.data(), h_);
        if (f == "TRAVO_ND_func") return TRAVO_ND_func(x_.data());
        if (f == "TRAVO_D_func") return TRAVO_D_func(x_.data());
        if (f == "TRAVO_D2_func") return TRAVO_D2_func(x_.data());
        if (f == "TRAVO_D_deriv") return TRAVO_D_deriv(u(0), x_.data());
        if (f == "TRAVO_D2_deriv1") return TRAVO_D2_deriv1(u(0), x_.data());
        if (f == "TRAVO_D2_deriv2") return TRAVO_D2_deriv2(u(0), u(1), x_.data());
        throw std::runtime_error("unknown operation: " + f);
    }

    std::vector<double> x_{0.1, -0.2};
    double g_[2] = {0, 0};
    double rows_[2][2] = {{0, 0}, {0, 0}};
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
    if (at == std::string::npos) return 0;
    auto b = cell.rfind(' ', at - 1);
    return std::stoi(cell.substr(b + 1));
}

class BadInputDoc : public GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        doc_ = read_file(TRAVO_SOURCE_DIR "/docs/bad-input.md");
    }
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
    std::string doc_;
};

}  // namespace

TEST_F(BadInputDoc, HostEntryExamplesGiveTheirMessage) {
    const Rows rows = tables_of(doc_, "Host entry")["Message"];
    std::set<std::string> documented;
    for (const auto &row : rows) {
        const std::string message = unquote(row.at(0));
        documented.insert(message);
        EXPECT_TRUE(Fails(run_host(code_span(row.at(2)), failing_allocation(row.at(2))), message)) << row.at(2);
    }
    EXPECT_EQ(documented, gateway_messages()) << "every message of the gateway has one row";
}

TEST_F(BadInputDoc, HostEntryValuesAreAsDocumented) {
    const Rows rows = tables_of(doc_, "Host entry")["Input"];
    ASSERT_FALSE(rows.empty());
    for (const auto &row : rows) {
        const Outcome out = run_host(code_span(row.at(1)), 0);
        ASSERT_TRUE(out.ok) << row.at(1) << ": " << out.error;
        EXPECT_TRUE(SameValues(Octave(code_span(row.at(2))).whole(), out.result)) << row.at(1);
    }
}

TEST_F(BadInputDoc, LibraryExamplesGiveTheirStatus) {
    const Rows rows = tables_of(doc_, "Library")["Status"];
    std::set<int> documented;
    for (const auto &row : rows) {
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
}

TEST_F(BadInputDoc, LibraryErrorValuesAreAsDocumented) {
    const Rows rows = tables_of(doc_, "Library")["Cause"];
    ASSERT_FALSE(rows.empty());
    for (const auto &row : rows) {
        reset_library();
        EXPECT_EQ(Library().run(code_span(row.at(1)), false), std::stod(row.at(2))) << row.at(1);
    }
}
