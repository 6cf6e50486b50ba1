// The record of how a picture was made, written into the picture file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "plot.hpp"

namespace travo::cli::plotting {
namespace {

// CRC-32 of a PNG chunk's type and data (ISO 3309, as PNG uses it).
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
    if (trailer == std::string::npos || startxref == std::string::npos || startxref < trailer ||
        size_at == std::string::npos || root_at == std::string::npos) {
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

// Inserts a tEXt "Comment" chunk holding `text` after the PNG's header.
void add_png_comment(std::string &pic, const std::string &text) {
    constexpr std::size_t kAfterHeader = 8 + 25;  // signature, IHDR chunk
    if (pic.size() < kAfterHeader) throw DataError("the picture library wrote no PNG");
    const std::string body = "tEXtComment" + std::string(1, '\0') + text;
    auto be32 = [](std::uint32_t v) {
        std::string b;
        for (int k = 3; k >= 0; k--) b += static_cast<char>((v >> (8 * k)) & 0xFF);
        return b;
    };
    pic.insert(kAfterHeader, be32(static_cast<std::uint32_t>(body.size() - 4)) + body + be32(crc32(body)));
}

// Inserts a <metadata> element holding `text` at the start of the SVG.
void add_svg_metadata(std::string &pic, const std::string &text) {
    const auto root = pic.find("<svg");
    const auto end = root == std::string::npos ? root : pic.find('>', root);
    if (end == std::string::npos) throw DataError("the picture library wrote no SVG");
    std::string escaped;
    for (char c : text) escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    pic.insert(end + 1, "\n<metadata>" + escaped + "</metadata>");
}

}  // namespace

std::string describe_picture(const Member &f, Kind kind, const Layout &l) {
    return "travo " + std::string(version()) + " plot --kind " + std::string(kind_name(kind)) + " --axes " +
           std::to_string(l.ax + 1) + "," + std::to_string(l.ay + 1) + " --resolution " + std::to_string(l.resolution) +
           " --levels " + std::to_string(l.levels) + " " + describe(f.parameters());
}

void edit_picture(const std::string &file, const std::function<void(std::string &)> &edit) {
    std::string pic;
    {
        std::ifstream in(file, std::ios::binary);
        pic.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in && !in.eof()) throw DataError("cannot complete the picture: it cannot be read back");
    }
    edit(pic);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(pic.data(), static_cast<std::streamsize>(pic.size()));
    out.close();
    if (!out) throw DataError(std::string("cannot complete the picture: ") + std::strerror(errno));
}

void add_metadata(const std::string &file, const std::string &format, const std::string &text) {
    edit_picture(file, [&](std::string &pic) {
        if (format == "png") {
            add_png_comment(pic, text);
        } else if (format == "pdf") {
            add_pdf_subject(pic, text);
        } else {
            add_svg_metadata(pic, text);
        }
    });
}

}  // namespace travo::cli::plotting
