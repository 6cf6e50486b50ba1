// travo plot: filled contours of a 2-D member, or of the 2-D slice of a
// higher-dimensional member through its global minimizer, drawn with PLplot
// into a PNG, SVG or PDF file. For SVG the tool writes the colour bands
// itself (svg_bands), so that the file stays small; the frame, text and
// overlays come from PLplot's SVG device, which keeps text as text.
#include <plplot.h>

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "commands.hpp"
#include "output.hpp"
#include "work.hpp"

namespace travo::cli {
namespace {

// Colour map 0 entries used for the drawing.
enum Colour : PLINT { kWhite = 0, kBlack = 1, kRed = 2, kMarker = 3, kOrange = 4, kLegendBack = 5 };

// Viridis, sampled at nine evenly spaced points.
constexpr double kViridis[9][3] = {{68, 1, 84},    {71, 45, 123}, {59, 82, 139},  {44, 114, 142}, {33, 144, 140},
                                   {39, 173, 129}, {93, 200, 99}, {170, 220, 50}, {253, 231, 37}};

// The file being drawn, removed if PLplot gives up on it.
std::string g_partial;

// The first operation the picture library gave up on (it then goes on
// without it): the picture is incomplete and is not delivered.
std::string g_aborted;

void on_plplot_abort(PLCHAR_VECTOR message) {
    if (g_aborted.empty()) g_aborted = message != nullptr && *message != '\0' ? message : "unknown error";
}

int on_plplot_exit(PLCHAR_VECTOR message) {
    if (!g_partial.empty()) std::remove(g_partial.c_str());
    std::fprintf(stderr, "travo: error: plotting failed: %s\n", message != nullptr ? message : "");
    return kExitData;
}

std::string plplot_text(const std::string &s) {
    // '#' starts a PLplot escape sequence; "##" is a literal '#'.
    std::string out;
    for (char c : s) {
        out += c;
        if (c == '#') out += '#';
    }
    return out;
}

std::string extension(const std::string &path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// A round tick spacing (1, 2 or 5 times a power of ten) giving four to eight
// ticks over `range`, or at most `most` ticks.
double tick_step(double range, double most = 8.0) {
    const double raw = range / most;
    const double scale = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * scale >= raw) return m * scale;
    }
    return 10.0 * scale;
}

struct Layout {
    int width = 0, height = 0;     // 0: fitted to the plot
    std::uint32_t ax = 0, ay = 0;  // coordinates along the axes, from 0
    const char *device = nullptr;
    std::string format;  // png, svg or pdf
    std::int64_t levels = 0;
    std::int64_t resolution = 0;  // grid points along the longer side
};

Layout check_options(const PlotOptions &o, std::uint32_t dim) {
    Layout l;
    if (o.output.empty() || o.output == "-") throw UsageError("--output: give the name of the picture file");
    std::string fmt = o.format.empty() ? extension(o.output) : o.format;
    fmt = lower(fmt);
    if (fmt == "png") {
        l.device = "pngcairo";
    } else if (fmt == "svg") {
        l.device = "svg";
    } else if (fmt == "pdf") {
        l.device = "pdfcairo";
    } else if (o.format.empty()) {
        throw UsageError("--output: cannot tell the picture format from " + excerpt(o.output) +
                         "; name it .png, .svg or .pdf, or give --format");
    } else {
        throw UsageError("--format: " + excerpt(o.format) + " is not one of png, svg, pdf");
    }
    l.format = fmt;

    if (!o.size.empty()) {
        const auto x = o.size.find('x');
        if (x == std::string::npos) throw UsageError("--size: '" + o.size + "' is not WIDTHxHEIGHT, such as 800x780");
        const auto w = parse_integer(o.size.substr(0, x), "--size");
        const auto h = parse_integer(o.size.substr(x + 1), "--size");
        if (w < 300 || w > 8000 || h < 300 || h > 8000) {
            throw UsageError("--size: width and height must lie from 300 to 8000 pixels (it is " + o.size + ")");
        }
        l.width = static_cast<int>(w);
        l.height = static_cast<int>(h);
    }

    const auto axes = parse_reals(o.axes, "--axes");
    if (axes.size() != 2) throw UsageError("--axes: needs two coordinate numbers I,J (it is '" + o.axes + "')");
    for (double a : axes) {
        if (a != std::floor(a) || a < 1 || a > dim) {
            throw UsageError("--axes: coordinates must be whole numbers from 1 to the dimension " +
                             std::to_string(dim) + " (it is '" + o.axes + "')");
        }
    }
    if (axes[0] == axes[1]) throw UsageError("--axes: the two coordinates must differ (it is '" + o.axes + "')");
    l.ax = static_cast<std::uint32_t>(axes[0]) - 1;
    l.ay = static_cast<std::uint32_t>(axes[1]) - 1;

    const std::int64_t res = o.resolution == "0" ? 0
                                                 : parse_count(o.resolution, "--resolution", 10, 4000,
                                                               "must lie from 10 to 4000 grid points");
    l.resolution = res != 0 ? res : fmt == "svg" ? 150 : 400;
    l.levels = parse_count(o.levels, "--levels", 2, 256, "must lie from 2 to 256");
    return l;
}

// Where things go on the page. Margins and text are sized for a page of
// about 820 x 800 pixels and grow or shrink with `scale` on other sizes.
// PLplot draws text in proportion to the page width; `text` corrects that
// to `scale`.
struct Frame {
    int width = 0, height = 0;
    double scale = 1.0, text = 1.0;
    double vx0 = 0, vx1 = 0, vy0 = 0, vy1 = 0;  // plot area, normalised page coordinates
    double plot_w = 0, plot_h = 0;              // plot area in pixels
};

Frame frame_for(int width, int height, double aspect, int title_lines, bool legend) {
    // Equal scales on both axes, so that circles stay circles; only boxes
    // longer than 20:1 are drawn stretched to 20:1, to keep the plot visible.
    const double shown = std::clamp(aspect, 0.05, 20.0);
    const double left = 85, right = 170, top = 40 + 30 * title_lines, bottom = legend ? 180 : 90;
    Frame fr;
    if (width == 0) {
        double pw = 590, ph = 590 * shown;
        if (ph > 560) {
            ph = 560;
            pw = 560 / shown;
        }
        fr.width = static_cast<int>(std::max(820.0, std::round(pw + left + right)));
        fr.height = static_cast<int>(std::round(ph + top + bottom));
    } else {
        fr.width = width;
        fr.height = height;
        fr.scale = std::min(width / 820.0, height / 800.0);
    }
    fr.text = fr.scale / (fr.width / 820.0);
    const double s = fr.scale;
    const double room_w = fr.width - (left + right) * s, room_h = fr.height - (top + bottom) * s;
    double pw = room_w, ph = room_w * shown;
    if (ph > room_h) {
        ph = room_h;
        pw = room_h / shown;
    }
    const double x0 = left * s + (room_w - pw) / 2, y0 = bottom * s + (room_h - ph) / 2;
    fr.vx0 = x0 / fr.width;
    fr.vx1 = (x0 + pw) / fr.width;
    fr.vy0 = y0 / fr.height;
    fr.vy1 = (y0 + ph) / fr.height;
    fr.plot_w = pw;
    fr.plot_h = ph;
    return fr;
}

// A region of the slice: its circle, and whether its minimizer lies in the
// slice plane.
struct Circle {
    double x, y, r;
    bool centre_in_plane;
    std::uint32_t row;
};

// The values on the grid, `resolution` points along the longer side, and
// the colour levels spanning their finite ones.
struct Grid {
    double x0, x1, y0, y1;
    std::size_t nx, ny;
    std::vector<double> z;  // column by column: z[i * ny + j] at (grid_x(i), grid_y(j))
    std::vector<double> levels;
    double zmin, zmax;
    std::size_t blank = 0;  // grid points without a finite value
};

// Where the slice lies: the global minimizer, or the member's only plane.
Grid evaluate_grid(const Member &f, Kind kind, const Layout &l, unsigned threads) {
    const Parameters &p = f.parameters();
    const std::uint32_t n = f.dim();
    Grid g;
    g.x0 = p.lower[l.ax];
    g.x1 = p.upper[l.ax];
    g.y0 = p.lower[l.ay];
    g.y1 = p.upper[l.ay];
    const double aspect = (g.y1 - g.y0) / (g.x1 - g.x0);
    const auto res = static_cast<double>(l.resolution);
    g.nx = static_cast<std::size_t>(std::max(10.0, std::round(aspect > 1 ? res / aspect : res)));
    g.ny = static_cast<std::size_t>(std::max(10.0, std::round(aspect > 1 ? res : res * aspect)));
    const std::size_t nx = g.nx, ny = g.ny;
    auto grid_x = [&](std::size_t i) {
        return i + 1 == nx ? g.x1 : g.x0 + (g.x1 - g.x0) * static_cast<double>(i) / (nx - 1);
    };
    auto grid_y = [&](std::size_t j) {
        return j + 1 == ny ? g.y1 : g.y0 + (g.y1 - g.y0) * static_cast<double>(j) / (ny - 1);
    };

    const auto gmin = f.minimizer(1);
    g.z.resize(nx * ny);
    // The tool's threads share the columns; each evaluates its own on the
    // calling thread (threads = 1): no threads inside threads.
    run_chunks(nx, 4, threads, "travo plot: evaluating", [&](std::size_t begin, std::size_t end) {
        std::vector<double> pts(ny * n);
        for (std::size_t i = begin; i < end; i++) {
            for (std::size_t j = 0; j < ny; j++) {
                double *x = pts.data() + j * n;
                std::copy(gmin.begin(), gmin.end(), x);
                x[l.ax] = grid_x(i);
                x[l.ay] = grid_y(j);
            }
            f.values(kind, pts, std::span<double>(g.z.data() + i * ny, ny), 1);
        }
    });
    // Extreme parameters can overflow double arithmetic; such points stay
    // blank and the colours span the finite values.
    double zlo = HUGE_VAL, zhi = -HUGE_VAL;
    for (double v : g.z) {
        if (!std::isfinite(v)) {
            g.blank++;
            continue;
        }
        zlo = std::min(zlo, v);
        zhi = std::max(zhi, v);
    }
    if (g.blank == g.z.size()) throw DataError("the member has no finite value on the plotted plane");
    g.zmin = zlo;
    g.zmax = zhi > zlo ? zhi : zlo + 1.0;
    g.levels.resize(static_cast<std::size_t>(l.levels) + 1);
    for (std::size_t k = 0; k < g.levels.size(); k++) {
        g.levels[k] = g.zmin + (g.zmax - g.zmin) * static_cast<double>(k) / static_cast<double>(l.levels);
    }
    return g;
}

// What is drawn over the colours: region boundaries met by the slice plane,
// the minimizers in it, and the vertex if it lies in it.
struct Overlays {
    std::vector<Circle> circles;
    std::vector<double> lx, ly, gx, gy;  // local and global minimizers
    bool vertex_in_plane = false;
    double vx = 0, vy = 0;
};

// A circle smaller than `min_radius` (in plot units) is too small to see and
// is left out: drawing it would fail in the picture library.
Overlays find_overlays(const Member &f, const Layout &l, double min_radius) {
    const std::uint32_t n = f.dim();
    const auto gmin = f.minimizer(1);
    auto off_plane2 = [&](std::span<const double> c) {
        double s = 0.0;
        for (std::uint32_t k = 0; k < n; k++) {
            if (k != l.ax && k != l.ay) s += (c[k] - gmin[k]) * (c[k] - gmin[k]);
        }
        return s;
    };
    Overlays o;
    const auto glob = f.global_minimizers();
    for (std::uint32_t row = 1; row < f.num_minima(); row++) {
        const auto c = f.minimizer(row);
        const double rho = f.radii()[row], d2 = off_plane2(c);
        if (!(d2 < rho * rho)) continue;
        const Circle circle{c[l.ax], c[l.ay], std::sqrt(rho * rho - d2), d2 < 1e-20, row};
        if (circle.r >= min_radius) o.circles.push_back(circle);
        if (!circle.centre_in_plane) continue;
        const bool global = std::find(glob.begin(), glob.end(), row) != glob.end();
        (global ? o.gx : o.lx).push_back(circle.x);
        (global ? o.gy : o.ly).push_back(circle.y);
    }
    const auto vertex = f.minimizer(0);
    o.vertex_in_plane = off_plane2(vertex) < 1e-20;
    o.vx = vertex[l.ax];
    o.vy = vertex[l.ay];
    return o;
}

std::string short_number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// The coordinates held fixed in the slice, for the subtitle: the first few,
// then how many more.
std::string slice_point(const Member &f, const Layout &l) {
    const auto gmin = f.minimizer(1);
    std::string s;
    std::size_t shown = 0, fixed = 0;
    for (std::uint32_t k = 0; k < f.dim(); k++) {
        if (k == l.ax || k == l.ay) continue;
        fixed++;
        if (shown == 2) continue;
        s += (shown > 0 ? ", " : "") + std::string("x#d") + std::to_string(k + 1) + "#u = " + short_number(gmin[k]);
        shown++;
    }
    if (fixed > shown) s += ", ... (" + std::to_string(fixed - shown) + " more)";
    return s;
}

void set_colours() {
    plscol0(kWhite, 255, 255, 255);
    plscol0(kBlack, 0, 0, 0);
    plscol0(kRed, 230, 30, 45);
    plscol0(kMarker, 255, 255, 255);
    plscol0(kOrange, 255, 150, 30);
    plscol0(kLegendBack, 52, 52, 52);
    double pos[9], r[9], g[9], b[9];
    for (int k = 0; k < 9; k++) {
        pos[k] = k / 8.0;
        r[k] = kViridis[k][0] / 255.0;
        g[k] = kViridis[k][1] / 255.0;
        b[k] = kViridis[k][2] / 255.0;
    }
    plscmap1n(256);
    plscmap1l(1, 9, pos, r, g, b, nullptr);
}

void draw_field(const Grid &g, const Layout &l) {
    std::vector<const double *> columns(g.nx);
    for (std::size_t i = 0; i < g.nx; i++) columns[i] = g.z.data() + i * g.ny;
    // PNG twice: the second pass covers the faint seams that anti-aliasing
    // leaves between the fill polygons of the first. PDF outlines every
    // polygon in its own colour, which hides them, so once is enough.
    const int passes = l.format == "png" ? 2 : 1;
    for (int pass = 0; pass < passes; pass++) {
        plshades(columns.data(), static_cast<PLINT>(g.nx), static_cast<PLINT>(g.ny), nullptr, g.x0, g.x1, g.y0, g.y1,
                 g.levels.data(), static_cast<PLINT>(g.levels.size()), 1.0, 0, 0.0, plfill, 1, nullptr, nullptr);
    }
}

// The colour of band k of `bands`, as the picture library's colour map 1
// gives it to its shades.
std::string band_colour(std::size_t k, std::size_t bands) {
    const double t = bands > 1 ? 8.0 * static_cast<double>(k) / static_cast<double>(bands - 1) : 0.0;
    const int a = std::min(7, static_cast<int>(t));
    const double w = t - a;
    char buf[8];
    int c[3];
    for (int i = 0; i < 3; i++) c[i] = static_cast<int>(std::lround(kViridis[a][i] * (1 - w) + kViridis[a + 1][i] * w));
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
    return buf;
}

// The filled contours for SVG as one path per colour band, in page units
// (the picture library's SVG draws in them, y upwards). Cells wholly inside
// a band are merged into rectangles along each grid row; a cell that a
// level crosses is cut into two triangles, each clipped to each band it
// meets (values linear along the edges). Cells with a value that is not
// finite stay blank.
std::string svg_bands(const Grid &g, const Frame &fr) {
    const std::size_t bands = g.levels.size() - 1, nx = g.nx, ny = g.ny;
    const double px0 = fr.vx0 * fr.width, py0 = fr.vy0 * fr.height;
    const double sx = fr.plot_w / static_cast<double>(nx - 1), sy = fr.plot_h / static_cast<double>(ny - 1);
    auto band_of = [&](double v) {
        const double t = (v - g.zmin) / (g.zmax - g.zmin) * static_cast<double>(bands);
        return static_cast<std::size_t>(std::clamp(std::floor(t), 0.0, static_cast<double>(bands - 1)));
    };
    auto z = [&](std::size_t i, std::size_t j) { return g.z[i * ny + j]; };
    std::vector<std::string> paths(bands);
    struct P {
        double x, y, v;
    };
    // Tenths of a page unit, as short as they go: "0.5" as ".5", "2.0" as "2".
    auto put = [&](std::string &d, double v) {
        const long tenths = std::lround(v * 10);
        const long whole = std::labs(tenths) / 10, tenth = std::labs(tenths) % 10;
        if (tenths < 0) d += '-';
        if (whole != 0 || tenth == 0) d += std::to_string(whole);
        if (tenth != 0) d += "." + std::to_string(tenth);
    };
    // The first vertex absolute, the others relative to the one before, in
    // the rounded units written, so that no rounding accumulates.
    auto add_polygon = [&](std::string &d, const std::vector<P> &poly) {
        double ax = 0, ay = 0;
        for (std::size_t k = 0; k < poly.size(); k++) {
            const double x = std::round((px0 + poly[k].x * sx) * 10) / 10,
                         y = std::round((py0 + poly[k].y * sy) * 10) / 10;
            d += k == 0 ? 'M' : k == 1 ? 'l' : ' ';
            put(d, k == 0 ? x : x - ax);
            d += ' ';
            put(d, k == 0 ? y : y - ay);
            ax = x;
            ay = y;
        }
        d += 'z';
    };
    // Keeps the part of `poly` where v >= lo (keep_above) or v <= lo.
    auto clip = [](const std::vector<P> &poly, double lo, bool keep_above) {
        std::vector<P> out;
        for (std::size_t k = 0; k < poly.size(); k++) {
            const P &a = poly[k], &b = poly[(k + 1) % poly.size()];
            const bool ina = keep_above ? a.v >= lo : a.v <= lo, inb = keep_above ? b.v >= lo : b.v <= lo;
            if (ina) out.push_back(a);
            if (ina != inb) {
                const double t = (lo - a.v) / (b.v - a.v);
                out.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), lo});
            }
        }
        return out;
    };
    for (std::size_t j = 0; j + 1 < ny; j++) {
        std::size_t run_start = 0, run_band = 0;
        bool in_run = false;
        auto close_run = [&](std::size_t end) {
            if (!in_run) return;
            const double x = static_cast<double>(run_start), y = static_cast<double>(j);
            add_polygon(
                paths[run_band],
                {{x, y, 0}, {static_cast<double>(end), y, 0}, {static_cast<double>(end), y + 1, 0}, {x, y + 1, 0}});
            in_run = false;
        };
        for (std::size_t i = 0; i + 1 < nx; i++) {
            const double c[4] = {z(i, j), z(i + 1, j), z(i + 1, j + 1), z(i, j + 1)};
            if (!(std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]) && std::isfinite(c[3]))) {
                close_run(i);
                continue;
            }
            const std::size_t b0 = band_of(c[0]);
            if (band_of(c[1]) == b0 && band_of(c[2]) == b0 && band_of(c[3]) == b0) {
                if (in_run && run_band != b0) close_run(i);
                if (!in_run) {
                    in_run = true;
                    run_start = i;
                    run_band = b0;
                }
                continue;
            }
            close_run(i);
            const double x = static_cast<double>(i), y = static_cast<double>(j);
            const std::vector<P> tris[2] = {{{x, y, c[0]}, {x + 1, y, c[1]}, {x + 1, y + 1, c[2]}},
                                            {{x, y, c[0]}, {x + 1, y + 1, c[2]}, {x, y + 1, c[3]}}};
            for (const auto &tri : tris) {
                const double lo = std::min({tri[0].v, tri[1].v, tri[2].v}),
                             hi = std::max({tri[0].v, tri[1].v, tri[2].v});
                for (std::size_t k = band_of(lo); k <= band_of(hi); k++) {
                    std::vector<P> part = tri;
                    if (k > 0) part = clip(part, g.levels[k], true);
                    if (k + 1 < bands && part.size() >= 3) part = clip(part, g.levels[k + 1], false);
                    if (part.size() >= 3) add_polygon(paths[k], part);
                }
            }
        }
        close_run(nx - 1);
    }
    std::string out;
    for (std::size_t k = 0; k < bands; k++) {
        if (paths[k].empty()) continue;
        const std::string colour = band_colour(k, bands);
        out += "<path fill=\"" + colour + "\" stroke=\"" + colour + "\" stroke-width=\"0.6\" d=\"" + paths[k] +
               "\"/>\n";
    }
    return out;
}

// Puts the bands into the picture library's SVG, under everything it drew.
void insert_svg_bands(const std::string &file, const std::string &bands) {
    std::string pic;
    {
        std::ifstream in(file, std::ios::binary);
        pic.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const auto rect = pic.find("<rect");
    const auto group = rect == std::string::npos ? rect : pic.find("<g", rect);
    const auto open = group == std::string::npos ? group : pic.find('>', group);
    if (open == std::string::npos) throw DataError("cannot complete the picture: the picture library wrote no SVG");
    pic.insert(open + 1, "\n" + bands);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(pic.data(), static_cast<std::streamsize>(pic.size()));
    out.close();
    if (!out) throw DataError(std::string("cannot complete the picture: ") + std::strerror(errno));
}

void draw_overlays(const Overlays &o, const PlotOptions &opts, const Frame &fr) {
    const double s = fr.scale, t = fr.text;
    if (!opts.no_circles) {
        plcol0(kMarker);
        plwidth(1.2 * s);
        for (const Circle &c : o.circles) plarc(c.x, c.y, c.r, c.r, 0.0, 360.0, 0.0, 0);
        plwidth(1.0);
    }
    if (opts.no_markers) return;
    plschr(0.0, 0.9 * t);
    plcol0(kMarker);
    if (!o.lx.empty()) plstring(static_cast<PLINT>(o.lx.size()), o.lx.data(), o.ly.data(), "●");
    plschr(0.0, t);
    if (o.vertex_in_plane) {
        plcol0(kOrange);
        plstring(1, &o.vx, &o.vy, "✚");
    }
    plschr(0.0, 1.6 * t);
    plcol0(kRed);
    if (!o.gx.empty()) plstring(static_cast<PLINT>(o.gx.size()), o.gx.data(), o.gy.data(), "★");
    plschr(0.0, t);
}

// Axes, labels, title, colour bar and legend.
void draw_frame(const Member &f, const Grid &g, const Overlays &o, const Layout &l, const PlotOptions &opts, Kind kind,
                const Frame &fr, const std::string &title) {
    const double s = fr.scale, t = fr.text;
    const std::uint32_t n = f.dim();
    plcol0(kBlack);
    // Labels of about 70 pixels apart at most, so that they never overlap.
    plbox("bcnst", tick_step(g.x1 - g.x0, std::max(2.0, fr.plot_w / (70 * s))), 0, "bcnstv",
          tick_step(g.y1 - g.y0, std::max(2.0, fr.plot_h / (45 * s))), 0);
    const std::string xl = "x#d" + std::to_string(l.ax + 1) + "#u", yl = "x#d" + std::to_string(l.ay + 1) + "#u";
    plmtex("b", 3.0, 0.5, 0.5, xl.c_str());
    plmtex("l", 4.2, 0.5, 0.5, yl.c_str());
    // Title and slice line centred on the page, not on a narrow plot.
    plvpor(0.0, 1.0, fr.vy0, fr.vy1);
    if (!title.empty()) {
        plschr(0.0, 1.25 * t);
        plmtex("t", n > 2 ? 3.3 : 2.2, 0.5, 0.5, title.c_str());
        plschr(0.0, t);
    }
    if (n > 2) {
        const std::string sub = "slice through the global minimizer: " + slice_point(f, l);
        plschr(0.0, 0.9 * t);
        plmtex("t", 2.1, 0.5, 0.5, sub.c_str());
        plschr(0.0, t);
    }
    plvpor(fr.vx0, fr.vx1, fr.vy0, fr.vy1);
    plwind(g.x0, g.x1, g.y0, g.y1);

    // Colour bar on the right, as tall as the plot, labelled at its ends
    // with the lowest and highest value drawn, its name beside it.
    {
        PLFLT cb_w = 0, cb_h = 0;
        const char *axis_opts[] = {"bcvtm"};
        const PLFLT ticks[] = {tick_step(g.zmax - g.zmin)};
        const PLINT sub_ticks[] = {0};
        const PLINT n_values[] = {static_cast<PLINT>(g.levels.size())};
        const PLFLT *values[] = {g.levels.data()};
        plcolorbar(&cb_w, &cb_h, PL_COLORBAR_SHADE, PL_POSITION_RIGHT | PL_POSITION_OUTSIDE | PL_POSITION_VIEWPORT,
                   18 * s / fr.plot_w, 0.0, 24 * s / fr.plot_w, 1.0, kWhite, kBlack, 1, 0.0, 0.0, 0, 0.0, 0, nullptr,
                   nullptr, 1, axis_opts, ticks, sub_ticks, n_values, values);
        plcol0(kBlack);
        plmtex("r", 8.0, 0.5, 0.5, kind == Kind::ND ? "ND f(x)" : kind == Kind::D ? "D f(x)" : "D2 f(x)");
        const double at = 1.0 + 18 * s / fr.plot_w;
        plschr(0.0, 0.85 * t);
        plmtex("t", 0.9, at, 0.0, ("max " + short_number(g.zmax)).c_str());
        plmtex("b", 3.2, at, 0.0, ("min " + short_number(g.zmin)).c_str());
        plschr(0.0, t);
    }
    if (opts.no_legend) return;

    // Legend below the x label, of what the picture shows.
    struct Entry {
        PLINT opt;
        const char *text;
        PLINT symbol_colour;
        PLFLT symbol_scale;
        const char *symbol;
    };
    std::vector<Entry> entries;
    if (!opts.no_markers) {
        if (!o.gx.empty()) entries.push_back({PL_LEGEND_SYMBOL, "global minimizer", kRed, 1.6, "  ★"});
        if (!o.lx.empty()) entries.push_back({PL_LEGEND_SYMBOL, "local minimizer", kMarker, 0.9, "   ●"});
        if (o.vertex_in_plane) entries.push_back({PL_LEGEND_SYMBOL, "paraboloid vertex", kOrange, 1.0, "  ✚"});
    }
    if (!opts.no_circles && !o.circles.empty()) entries.push_back({PL_LEGEND_LINE, "region boundary", 0, 0.0, ""});
    const std::size_t k = entries.size();
    if (k == 0) return;
    std::vector<PLINT> kinds(k), text_colours(k, kMarker), symbol_colours(k), symbol_numbers(k, 1),
        line_colours(k, kMarker), line_styles(k, 1);
    std::vector<PLFLT> symbol_scales(k), line_widths(k, 1.2 * s);
    std::vector<const char *> text(k), symbols(k);
    for (std::size_t e = 0; e < k; e++) {
        kinds[e] = entries[e].opt;
        text[e] = entries[e].text;
        symbol_colours[e] = entries[e].symbol_colour;
        symbol_scales[e] = entries[e].symbol_scale * t;
        symbols[e] = entries[e].symbol;
    }
    const auto rows = static_cast<PLINT>(k > 2 ? 2 : 1), cols = static_cast<PLINT>(k > 2 ? 2 : k);
    PLFLT lw = 0, lh = 0;
    pllegend(&lw, &lh, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
             PL_POSITION_BOTTOM | PL_POSITION_OUTSIDE | PL_POSITION_VIEWPORT, 0.0, 72 * s / fr.plot_h,
             40 * s / fr.plot_w, kLegendBack, kBlack, 1, rows, cols, static_cast<PLINT>(k), kinds.data(), 0.8, 0.85 * t,
             2.0, 0.0, text_colours.data(), text.data(), nullptr, nullptr, nullptr, nullptr, line_colours.data(),
             line_styles.data(), line_widths.data(), symbol_colours.data(), symbol_scales.data(), symbol_numbers.data(),
             symbols.data());
}

// The tool's version and every option behind the picture, so that it can be
// drawn again.
std::string describe_picture(const Member &f, Kind kind, const Layout &l) {
    return "travo " + std::string(version()) + " plot --kind " + kind_name(kind) + " --axes " +
           std::to_string(l.ax + 1) + "," + std::to_string(l.ay + 1) + " --resolution " + std::to_string(l.resolution) +
           " --levels " + std::to_string(l.levels) + " " + describe(f.parameters());
}

std::uint32_t crc32(std::string_view data) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : data) {
        c ^= b;
        for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// Appends to a PDF an update whose document information holds `text` as
// its Subject (the PDF's own trailer and cross-reference stay as written).
void add_pdf_subject(std::string &pic, const std::string &text) {
    const auto trailer = pic.rfind("trailer"), startxref = pic.rfind("startxref");
    const auto size_at = pic.find("/Size ", trailer), root_at = pic.find("/Root ", trailer);
    if (trailer == std::string::npos || startxref < trailer || size_at == std::string::npos ||
        root_at == std::string::npos) {
        throw DataError("cannot complete the picture: the picture library wrote no PDF trailer");
    }
    const unsigned long size = std::strtoul(pic.c_str() + size_at + 6, nullptr, 10);
    const unsigned long root = std::strtoul(pic.c_str() + root_at + 6, nullptr, 10);
    const unsigned long prev = std::strtoul(pic.c_str() + startxref + 9, nullptr, 10);
    std::string escaped;
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\') escaped += '\\';
        escaped += c;
    }
    if (pic.back() != '\n') pic += '\n';
    const std::size_t object_at = pic.size();
    pic += std::to_string(size) + " 0 obj\n<< /Producer (travo " + std::string(version()) + ") /Subject (" + escaped +
           ") >>\nendobj\n";
    const std::size_t xref_at = pic.size();
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object_at);
    pic += "xref\n0 1\n0000000000 65535 f \n" + std::to_string(size) + " 1\n" + entry + "trailer\n<< /Size " +
           std::to_string(size + 1) + " /Root " + std::to_string(root) + " 0 R /Info " + std::to_string(size) +
           " 0 R /Prev " + std::to_string(prev) + " >>\nstartxref\n" + std::to_string(xref_at) + "\n%%EOF\n";
}

// Records `text` in the picture: a tEXt "Comment" chunk after the PNG header,
// a <metadata> element at the start of the SVG, the Subject of a PDF.
void add_metadata(const std::string &file, const std::string &format, const std::string &text) {
    std::string pic;
    {
        std::ifstream in(file, std::ios::binary);
        pic.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) throw DataError("cannot complete the picture: it cannot be read back");
    }
    if (format == "png") {
        constexpr std::size_t kAfterHeader = 8 + 25;  // signature, IHDR chunk
        if (pic.size() < kAfterHeader) throw DataError("the picture library wrote no PNG");
        const std::string body = "tEXtComment" + std::string(1, '\0') + text;
        auto be32 = [](std::uint32_t v) {
            std::string b;
            for (int k = 3; k >= 0; k--) b += static_cast<char>((v >> (8 * k)) & 0xFF);
            return b;
        };
        pic.insert(kAfterHeader, be32(static_cast<std::uint32_t>(body.size() - 4)) + body + be32(crc32(body)));
    } else if (format == "pdf") {
        add_pdf_subject(pic, text);
    } else {
        const auto root = pic.find("<svg");
        const auto end = root == std::string::npos ? root : pic.find('>', root);
        if (end == std::string::npos) throw DataError("the picture library wrote no SVG");
        std::string escaped;
        for (char c : text) escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
        pic.insert(end + 1, "\n<metadata>" + escaped + "</metadata>");
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(pic.data(), static_cast<std::streamsize>(pic.size()));
    out.close();
    if (!out) throw DataError(std::string("cannot complete the picture: ") + std::strerror(errno));
}

}  // namespace

void run_plot(const MemberOptions &member, const PlotOptions &o) {
    const Kind kind = parse_kind(o.kind);
    const unsigned threads = thread_count(o.threads);
    const Layout l = check_options(o, member.parameters().dim);
    Output out(o.output, "cannot write");
    const Member f = member.generate();
    const std::uint32_t n = f.dim();

    const Grid g = evaluate_grid(f, kind, l, threads);
    const std::string title = o.title_given
                                  ? plplot_text(o.title)
                                  : std::string(kind == Kind::ND  ? "ND"
                                                : kind == Kind::D ? "D"
                                                                  : "D2") +
                                        " member, test " + std::to_string(f.parameters().test_number) + " (dimension " +
                                        std::to_string(n) + ", " + std::to_string(f.num_minima()) + " minima)";
    const int title_lines = (title.empty() ? 0 : 1) + (n > 2 ? 1 : 0);
    const Frame fr = frame_for(l.width, l.height, (g.y1 - g.y0) / (g.x1 - g.x0), title_lines, !o.no_legend);
    // Half a pixel, in plot units: a circle smaller than that cannot be seen.
    const Overlays overlays = find_overlays(f, l, 0.5 * (g.x1 - g.x0) / fr.plot_w);

    // Drawing. A large grid takes a while to draw: say so on a terminal.
    const bool say_drawing = g.z.size() > 1000000 && isatty(STDERR_FILENO) == 1;
    if (say_drawing) {
        std::fprintf(stderr, "travo plot: drawing");
        std::fflush(stderr);
    }
    // The picture library and its font and drawing libraries stop the
    // process when they run out of memory part way (some of them abort).
    // Checking that the memory they need is there first turns the common
    // case into the tool's own "out of memory".
    {
        const std::size_t need = (std::size_t{64} << 20) + 4 * sizeof(double) * g.z.size() +
                                 4 * static_cast<std::size_t>(fr.width) * static_cast<std::size_t>(fr.height);
        void *probe = std::malloc(need);
        if (probe == nullptr) throw std::bad_alloc();
        std::free(probe);
    }
    g_partial = out.staging_file();
    g_aborted.clear();
    plsabort(on_plplot_abort);
    plsexit(on_plplot_exit);
    plsdev(l.device);
    plsfnam(g_partial.c_str());
    plspage(0, 0, fr.width, fr.height, 0, 0);
    plscolbg(255, 255, 255);
    plscmap0n(16);
    plinit();
    set_colours();
    pladv(0);
    plschr(0.0, fr.text);
    plvpor(fr.vx0, fr.vx1, fr.vy0, fr.vy1);
    plwind(g.x0, g.x1, g.y0, g.y1);
    if (l.format != "svg") draw_field(g, l);
    draw_overlays(overlays, o, fr);
    draw_frame(f, g, overlays, l, o, kind, fr, title);
    plend();
    plsexit(nullptr);
    plsabort(nullptr);
    g_partial.clear();
    if (say_drawing) std::fprintf(stderr, "\r\033[K");
    if (!g_aborted.empty()) {
        if (g_aborted.find("allocate") != std::string::npos) throw std::bad_alloc();
        throw DataError("plotting failed: " + g_aborted);
    }

    if (l.format == "svg") insert_svg_bands(out.staging_file(), svg_bands(g, fr));
    add_metadata(out.staging_file(), l.format, describe_picture(f, kind, l));
    out.commit();
    if (g.blank > 0) {
        std::fprintf(stderr, "travo: warning: %zu of %zu grid points have no finite value and are left blank\n",
                     g.blank, g.z.size());
    }
}

}  // namespace travo::cli
