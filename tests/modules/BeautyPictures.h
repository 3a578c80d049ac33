#pragma once

// Test pictures for the beauty filter: packed BGR24 with skin tones.

#include <cstdint>
#include <random>
#include <vector>

namespace moduletest {

struct TBgrPicture {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> data;

    TBgrPicture(int32_t w, int32_t h) : width(w), height(h), data(static_cast<size_t>(w) * h * 3) {}

    int32_t Linesize() const { return width * 3; }
    uint8_t* Pixel(int32_t x, int32_t y) { return data.data() + (y * width + x) * 3; }
    const uint8_t* Pixel(int32_t x, int32_t y) const { return data.data() + (y * width + x) * 3; }
    void Set(int32_t x, int32_t y, int b, int g, int r) {
        uint8_t* p = Pixel(x, y);
        p[0] = static_cast<uint8_t>(b);
        p[1] = static_cast<uint8_t>(g);
        p[2] = static_cast<uint8_t>(r);
    }
    double Luma(int32_t x, int32_t y) const {
        const uint8_t* p = Pixel(x, y);
        return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    }
};

// A light skin tone (B, G, R).
constexpr int kSkin[3] = {140, 170, 220};

inline int ClampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Skin with grey noise of the given deviation (the same on B, G and R, so
// it is all luma), reproducible.
inline void FillNoisySkin(TBgrPicture& picture, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                          double deviation, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, deviation);
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const int n = static_cast<int>(noise(random));
            picture.Set(x, y, ClampByte(kSkin[0] + n), ClampByte(kSkin[1] + n),
                        ClampByte(kSkin[2] + n));
        }
    }
}

}  // namespace moduletest
