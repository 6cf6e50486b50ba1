// The plot options checked into a layout, and the frame of the page.
#include <algorithm>
#include <cmath>
#include <string>

#include "plot.hpp"

namespace travo::cli::plotting {
namespace {

// The extension of a file name, in lower case; "" for none.
std::string extension(const std::string &path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return lower(path.substr(dot + 1));
}

}  // namespace

double tick_step(double range, double most) {
    const double raw = range / most;
    const double scale = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0}) {
        if (m * scale >= raw) return m * scale;
    }
    return 10.0 * scale;
}

Layout check_options(const PlotOptions &o, std::uint32_t dim) {
    Layout l;
    if (o.output.empty() || o.output == "-") throw UsageError("--output: give the name of the picture file");
    const std::string fmt = o.format.empty() ? extension(o.output) : o.format;
    if (fmt == "png") {
        l.device = "pngcairo";
    } else if (fmt == "svg") {
        l.device = "svg";
    } else if (fmt == "pdf") {
        l.device = "pdfcairo";
    } else {
        throw UsageError("--output: cannot tell the picture format from " + excerpt(o.output) +
                         "; name it .png, .svg or .pdf, or give --format");
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

}  // namespace travo::cli::plotting
