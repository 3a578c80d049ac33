// Build-time generator of the engine's resources: "FD" 4003 and 4004 (class
// tables) and "AG" 4002 (the angle table). Each output file holds a 32-bit
// little-endian length n followed by n bytes of one zlib stream, which the
// engine inflates into its fixed-size table at start-up.
//
//   gen-resources OUTPUT_FOLDER   writes FD4003.bin, FD4004.bin, AG4002.bin
//
// Class table: 2^24 entries of 3 bytes, indexed like the classification table
// by U * 65536 + V * 256 + Y of a YUV sample (the same YUV as the keyer's:
// B = Y + 1.779 (U - 128), R = Y + 1.4075 (V - 128)).
//   byte 0: skin weight 0..255, how surely the sample is skin. The beauty
//           filter blends its result into the picture by this weight, so
//           smoothing and whitening stay on the presenter's face and hands and
//           leave clothes, hair and the background alone. Skin chroma lies in
//           an ellipse around U = 108, V = 152; the weight is 255 inside its
//           inner part and falls smoothly to 0 at its rim; it also fades
//           out below Y = 55 (0 at 25) and above Y = 235 (0 at 250).
//   byte 1: backdrop weight 0..255: the key value towards the backdrop colour
//           (green for 4003, blue for 4004, the keyer's own key values),
//           limited to 0..510 and halved. 0 for neutral chroma.
//   byte 2: 0, reserved.
// 4003 belongs to table variant 1 (green backdrop), 4004 to variant 2 (blue).
//
// Angle table: 1021 x 1021 bytes, read by the keyer at H * 1021 + L + 674420.
// What the axes mean, from the keyer's arithmetic:
//   H = k - max(F, 0): how far the sample's chroma lies towards green (k)
//       less the evidence of a non-green subject in its unmixed colour (F);
//       H grows with the backdrop's share of the sample and with the
//       backdrop's brightness (chroma scales with it);
//   L = (510 - K) * scale / 128: scale is 128 G / (min + max) of the sample,
//       which does not change with brightness, so L stands for the sample's
//       hue purity; mixing in a dark or non-green subject lowers it.
// A lit backdrop, a shadow on it and a thin dark strand over it therefore
// differ mostly in where they fall in (H, L), not in H alone, and no single
// ratio H / L separates them. The table is fitted instead: the generator
// draws training samples (foregrounds of hair, skin and non-green clothes
// over green backdrops of typical hue at gains from shadow (0.4) to light
// spot, with sensor noise, at opacities 0, 1 or anything between), runs
// each through the keyer's own per-sample arithmetic (ColourMath) at the
// neutral setting to find its (H, L), and gathers the true opacities per
// cell of 8 x 8. Each cell takes the median of its opacities, the value of
// least mean absolute error, so a cell mostly of backdrop becomes exactly
// transparent rather than faintly grey; cells with few samples lean on the
// former analytic shape (a smoothstep in H / L) as a prior. Between cell
// centres the table is bilinear. Then:
//   - H <= L / 7 is fully opaque: the subject's own colours, also under noise;
//   - the opacity never rises as H grows (more backdrop never makes a
//     sample more opaque), and every H from 359 on is transparent, so the last
//     row, which also serves every index past the end, is 0;
//   - opacities within 16 of 0 or 255 become exactly that, so the plain
//     backdrop and the solid subject carry no speckle.
// Shadow removal (P10) and light-spot removal (P11) keep their meaning: they
// decide before the table is read. The table itself makes shadows clear at
// P10 0, because the derived shade of a thin strand over the backdrop runs
// higher than that of a cast shadow: any P10 that clears a shadow clears
// the strands first. The sampling is seeded, so the table is
// the same on every build. Entries no index reaches are 0.

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/compositor/ColourMath.h"

namespace {

constexpr size_t kColourCount = size_t{1} << 24;
constexpr int kAngleSide = 1021;
constexpr size_t kAngleBytes = size_t{kAngleSide} * kAngleSide;
constexpr int kAngleIndexBias = 674420;
// Opacities this close to 0 or 255 become exactly that.
constexpr int kSnap = 16;
// H at most L / kOpaqueRatio is the subject's own colour: fully opaque.
constexpr int kOpaqueRatio = 7;

enum class Backdrop { kGreen, kBlue };

int GreenKey(int u, int v) {
    return static_cast<int16_t>((6803464 - 24700 * u - 28413 * v) / 10000);
}
int BlueKey(int u, int v) {
    return static_cast<int16_t>((39035 * u - 4107512 - 6906 * v) / 10000);
}

double SmoothFall(double x) {  // 1 for x <= 0, 0 for x >= 1, smooth between
    x = std::clamp(x, 0.0, 1.0);
    return 1.0 - x * x * (3.0 - 2.0 * x);
}

uint8_t SkinWeight(int u, int v, int y) {
    // Ellipse axes in U and V, slanted along the skin locus.
    const double du = u - 108.0;
    const double dv = v - 152.0;
    const double along = (du * 0.8 - dv * 0.6) / 22.0;
    const double across = (du * 0.6 + dv * 0.8) / 14.0;
    const double radius = std::sqrt(along * along + across * across);
    const double chroma = SmoothFall((radius - 0.6) / 0.4);
    const double dark = 1.0 - SmoothFall((y - 25.0) / 30.0);
    const double bright = SmoothFall((y - 235.0) / 15.0);
    return static_cast<uint8_t>(std::lround(255.0 * chroma * dark * bright));
}

std::vector<uint8_t> ClassTable(Backdrop backdrop) {
    std::vector<uint8_t> table(kColourCount * 3);
    for (int u = 0; u < 256; ++u) {
        for (int v = 0; v < 256; ++v) {
            const int key = backdrop == Backdrop::kGreen ? GreenKey(u, v) : BlueKey(u, v);
            const auto weight = static_cast<uint8_t>(std::clamp(key, 0, 510) / 2);
            uint8_t* entry = table.data() + (static_cast<size_t>(u) * 65536 + v * 256) * 3;
            for (int y = 0; y < 256; ++y, entry += 3) {
                entry[0] = SkinWeight(u, v, y);
                entry[1] = weight;
                entry[2] = 0;
            }
        }
    }
    return table;
}

// The keyer's table coordinates (H, L) of one sample at the neutral setting
// (P0, P1, P10, P11 all 0); false when the keyer decides the sample without
// the table.
bool AngleCoordinates(int u, int v, int y, const uint8_t* slice, int& h, int& l) {
    const int k = pelorn::colour::KeyValue(u, v);
    if (k < 1 || k >= 510)
        return false;
    const pelorn::colour::TDerived d = pelorn::colour::DerivedEntry(u, v, y, slice);
    h = static_cast<int16_t>(k - std::max(d.c0 + d.c2 - d.c1, 0));
    if (h < 1 || h >= 510 || d.scale == 0)
        return false;
    const int kk = std::max<int>(d.offset, 0);
    if (kk >= 510)
        return false;
    l = std::clamp(((510 - kk) * d.scale) >> 7, 1, 510);
    return true;
}

// The previous analytic shape, kept as the prior where samples are few.
double PriorOpacity(int h, int l) {
    const double t = std::clamp(
        std::min((0.85 - static_cast<double>(h) / l) / 0.7, (359.0 - h) / 59.0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

struct TBgrF {
    double b, g, r;
};

// Draws one training sample: a foreground colour over a lit, shaded or
// spotted green backdrop at some opacity, as a camera sees it.
struct TSampler {
    std::mt19937 random{20261208};
    double Uniform(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    }
    TBgrF Foreground() {
        const double pick = Uniform(0, 1);
        if (pick < 0.3) {  // hair, from black to mid brown
            const double v = Uniform(10, 90);
            return {v * Uniform(0.6, 1.0), v * Uniform(0.75, 1.0), v * Uniform(1.0, 1.4)};
        }
        if (pick < 0.55) {  // skin
            const double v = Uniform(90, 230);
            return {v * Uniform(0.5, 0.75), v * Uniform(0.65, 0.85), v};
        }
        for (;;) {  // clothes and anything else that is not backdrop green
            const TBgrF c{Uniform(0, 255), Uniform(0, 255), Uniform(0, 255)};
            if (c.g < std::max(c.b, c.r) + 25)
                return c;
        }
    }
    TBgrF Backdrop() {
        const TBgrF base{Uniform(45, 75), Uniform(160, 190), Uniform(40, 70)};
        const double gain = Uniform(0.4, 1.4);
        const double light = Uniform(0, 1) < 0.2 ? Uniform(0, 30) : 0.0;
        return {base.b * gain + light, base.g * gain + light, base.r * gain + light};
    }
    double Opacity() {
        const double pick = Uniform(0, 1);
        return pick < 0.2 ? 0.0 : (pick < 0.35 ? 1.0 : Uniform(0, 1));
    }
    double Noise() { return std::normal_distribution<double>(0.0, 2.0)(random); }
};

int LumaOf(int b, int g, int r) {
    return (114 * b + 587 * g + 299 * r + 500) / 1000;
}
int Chroma(int difference, int numerator, int denominator, int half) {
    return std::clamp(128 + (difference * numerator + (difference >= 0 ? half : -half)) / denominator,
                      0, 255);
}

std::vector<uint8_t> AngleTable() {
    std::vector<uint8_t> slice(pelorn::colour::kColourSliceBytes);
    pelorn::colour::BuildColourSlice(slice.data());

    constexpr int kBin = 8;
    constexpr int kBins = 512 / kBin;
    constexpr int kLevels = 64;  // opacity steps of the per-cell histograms
    std::vector<double> histogram(static_cast<size_t>(kBins) * kBins * (kLevels + 1), 0.0);
    TSampler sampler;
    for (int n = 0; n < 3000000; ++n) {
        const TBgrF f = sampler.Foreground();
        const TBgrF g = sampler.Backdrop();
        const double a = sampler.Opacity();
        auto channel = [&](double fc, double gc) {
            return std::clamp(static_cast<int>(std::lround(fc * a + gc * (1 - a) + sampler.Noise())),
                              0, 255);
        };
        const int b = channel(f.b, g.b), gg = channel(f.g, g.g), r = channel(f.r, g.r);
        const int y = std::min(LumaOf(b, gg, r), 255);
        const int u = Chroma(b - y, 1000, 1779, 889);
        const int v = Chroma(r - y, 10000, 14075, 7037);
        int h = 0, l = 0;
        if (!AngleCoordinates(u, v, y, slice.data(), h, l))
            continue;
        const int cell = (h / kBin) * kBins + l / kBin;
        histogram[static_cast<size_t>(cell) * (kLevels + 1) + std::lround(a * kLevels)] += 1.0;
    }

    std::vector<uint8_t> table(kAngleBytes, 0);
    constexpr double kPriorWeight = 3.0;
    auto cellValue = [&](int hb, int lb) {
        hb = std::clamp(hb, 0, kBins - 1);
        lb = std::clamp(lb, 0, kBins - 1);
        const double* counts = &histogram[static_cast<size_t>(hb * kBins + lb) * (kLevels + 1)];
        const double prior = PriorOpacity(hb * kBin + kBin / 2, std::max(lb * kBin + kBin / 2, 1));
        const int priorLevel = static_cast<int>(std::lround(prior * kLevels));
        double total = kPriorWeight;
        for (int i = 0; i <= kLevels; ++i) total += counts[i];
        // The median: the value of least mean absolute error in the cell.
        double below = 0.0;
        for (int i = 0; i <= kLevels; ++i) {
            below += counts[i] + (i == priorLevel ? kPriorWeight : 0.0);
            if (below >= total / 2)
                return static_cast<double>(i) / kLevels;
        }
        return 1.0;
    };
    // value[h][l] for h 0..509, l 0..510 (l = 0 is never read).
    std::vector<double> value(510 * 511, 0.0);
    auto at = [&](int h, int l) -> double& { return value[static_cast<size_t>(h) * 511 + l]; };
    for (int h = 0; h < 510; ++h) {
        for (int l = 1; l <= 510; ++l) {
            // Bilinear between the cells' centres.
            const double fh = (h - kBin / 2.0) / kBin, fl = (l - kBin / 2.0) / kBin;
            const int h0 = static_cast<int>(std::floor(fh)), l0 = static_cast<int>(std::floor(fl));
            const double th = fh - h0, tl = fl - l0;
            double v = (cellValue(h0, l0) * (1 - tl) + cellValue(h0, l0 + 1) * tl) * (1 - th) +
                       (cellValue(h0 + 1, l0) * (1 - tl) + cellValue(h0 + 1, l0 + 1) * tl) * th;
            if (h * kOpaqueRatio <= l)
                v = 1.0;
            if (h >= 359)
                v = 0.0;
            at(h, l) = v;
        }
    }
    // Never more opaque as the key grows.
    for (int l = 1; l <= 510; ++l)
        for (int h = 1; h < 510; ++h) at(h, l) = std::min(at(h, l), at(h - 1, l));
    for (int h = 0; h < 510; ++h) {
        for (int l = 1; l <= 510; ++l) {
            int byte = static_cast<int>(std::lround(255.0 * at(h, l)));
            if (byte < kSnap)
                byte = 0;
            if (byte > 255 - kSnap)
                byte = 255;
            const size_t index = static_cast<size_t>(h) * kAngleSide + l + kAngleIndexBias;
            if (index < kAngleBytes)
                table[index] = static_cast<uint8_t>(byte);
        }
    }
    return table;
}

bool WriteResource(const std::string& path, const std::vector<uint8_t>& data) {
    uLongf packedBytes = compressBound(data.size());
    std::vector<uint8_t> packed(packedBytes + 4);
    if (compress2(packed.data() + 4, &packedBytes, data.data(), data.size(), 9) != Z_OK) {
        std::fprintf(stderr, "gen-resources: compressing %s failed\n", path.c_str());
        return false;
    }
    for (int i = 0; i < 4; ++i) packed[i] = static_cast<uint8_t>(packedBytes >> (8 * i));
    packed.resize(packedBytes + 4);

    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "gen-resources: cannot create %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(packed.data(), 1, packed.size(), file) == packed.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
        std::fprintf(stderr, "gen-resources: writing %s failed\n", path.c_str());
    return written && closed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen-resources OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = WriteResource(folder + "/FD4003.bin", ClassTable(Backdrop::kGreen)) &&
                    WriteResource(folder + "/FD4004.bin", ClassTable(Backdrop::kBlue)) &&
                    WriteResource(folder + "/AG4002.bin", AngleTable());
    return ok ? 0 : 1;
}
