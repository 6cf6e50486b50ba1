// Decodes a fuzzer's bytes into values; reads past the end give zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace travo::fuzz {

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) v = (v << 8) | byte();
        return v;
    }

    // Any bit pattern: NaN, infinities, subnormals and huge values included.
    double raw_double() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; i++) bits = (bits << 8) | byte();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }

    // A number in [0, 1] from two bytes.
    double unit() { return ((byte() << 8) | byte()) / 65535.0; }

    // Mostly ordinary numbers in [lo, hi], sometimes a special value.
    double number(double lo, double hi) {
        const uint8_t tag = byte();
        if (tag < 230) return lo + (hi - lo) * unit();
        static const double specials[] = {0.0, -0.0, 1e-10, -1e-10, 1e300, -1e300, 5e-324};
        if (tag < 237) return specials[tag - 230];
        return raw_double();
    }

    std::string text(size_t max_len) {
        const size_t len = byte() % (max_len + 1);
        std::string s;
        for (size_t i = 0; i < len && !empty(); i++) s.push_back(static_cast<char>(byte()));
        return s;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace travo::fuzz
