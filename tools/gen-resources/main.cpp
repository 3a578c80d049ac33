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
// ratio H / L separates them. The table is fitted instead, to pictures: the
// generator renders presenter-like training pictures (soft-rimmed and
// motion-blurred shapes of hair, skin and non-green clothes, see-through
// sheets, hair strands of opacity 0.25-0.75 and 0.8-2.2 pixels wide, over a
// studio green with a gradient, a light spot, a cast shadow of depth 0.3-0.55
// and sensor noise, in 4:2:2 chroma like a camera's), runs every pixel
// through the keyer's own arithmetic (ColourMath) at the neutral setting and
// fits cells of 8 x 8 entries, bilinear between their centres. The mask the
// compositor shows has been through its fixed 1-2-1 / 2-4-2 / 1-2-1 filter,
// and that filtered mask is linear in the cell values, so the fit minimises
// the filtered mask's mean absolute error against the true opacity directly
// (projected sub-gradient steps, each cell's step scaled by the weight it
// carries, so it settles at the weighted median the filter allows): cells
// under a strand's core may rise above the strand's own opacity to make up
// for the filter spreading it into the backdrop. Each region of the pictures
// (backdrop, shadow, light spot, soft edge, strand, solid subject) weighs as
// much as the others and the whole picture ten times as much. In the soft
// edges the composite's colour error joins the objective: the camera colour
// there still carries backdrop green, and a slightly lower opacity shows
// less of it. The projection keeps every cell within 0..1 and never more
// opaque than the cell of lower H. Then:
//   - H <= L / 7 is fully opaque: the subject's own colours, also under noise;
//   - the opacity never rises as H grows (more backdrop never makes a
//     sample more opaque), and every H from 359 on is transparent, so the last
//     row, which also serves every index past the end, is 0;
//   - opacities within 16 of 0 or 255 become exactly that, so the plain
//     backdrop and the solid subject carry no speckle.
// The range of backdrop greens the pictures cover is a trade: the wider it
// is, the more a dark strand over one green looks like a shadow on another,
// and the more opacity strands lose.
// Shadow removal (P10) and light-spot removal (P11) keep their meaning: they
// decide before the table is read. The table itself makes shadows clear at
// P10 0, because the derived shade of a thin strand over the backdrop runs
// higher than that of a cast shadow: any P10 that clears a shadow clears
// the strands first. The pictures are seeded, so the table is the same on
// every build (about half a minute of one core). Entries no index reaches
// are 0.

#include <zlib.h>

#include <algorithm>
#include <array>
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
// From this H on the table is clear; its last row also serves every index
// past the table's end.
constexpr int kClearFrom = 359;
// Training pictures of the fit, and the weight of the composite's colour
// error in the edge band against the opacity errors.
constexpr uint32_t kTrainingPictures = 24;
constexpr double kColourShare = 30.0;
// The fitted cells: kBin x kBin table entries each, bilinear between their
// centres.
constexpr int kBin = 8;
constexpr int kBins = 512 / kBin;
constexpr int kFitPasses = 160;

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

int LumaOf(int b, int g, int r) {
    return (114 * b + 587 * g + 299 * r + 500) / 1000;
}
int Chroma(int difference, int numerator, int denominator, int half) {
    return std::clamp(128 + (difference * numerator + (difference >= 0 ? half : -half)) / denominator,
                      0, 255);
}

// The former analytic shape: the starting point of the fit and the value of
// cells no training sample reaches.
double PriorOpacity(int h, int l) {
    const double t = std::clamp(
        std::min((0.85 - static_cast<double>(h) / l) / 0.7, (359.0 - h) / 59.0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Where the keyer takes a sample's opacity from at the neutral setting
// (P0, P1, P10, P11 all 0), with the table's fixed parts (H <= L / 7
// opaque, H from 359 on clear) counted as decided.
enum class Decision { kOpaque, kClear, kTable };

Decision Decide(int u, int v, int y, const uint8_t* slice, int& h, int& l) {
    const int k = pelorn::colour::KeyValue(u, v);
    if (k < 1)
        return Decision::kOpaque;
    if (k >= 510)
        return Decision::kClear;
    const pelorn::colour::TDerived d = pelorn::colour::DerivedEntry(u, v, y, slice);
    h = static_cast<int16_t>(k - std::max(d.c0 + d.c2 - d.c1, 0));
    if (h < 1 || d.scale == 0)
        return Decision::kOpaque;
    if (h >= 510)
        return Decision::kClear;
    const int kk = std::max<int>(d.offset, 0);
    if (kk >= 510)
        return Decision::kClear;
    l = std::clamp(((510 - kk) * d.scale) >> 7, 1, 510);
    if (h * kOpaqueRatio <= l)
        return Decision::kOpaque;
    if (h >= kClearFrom)
        return Decision::kClear;
    return Decision::kTable;
}

// An entry's value between the cells' centres: four cells and their weights.
struct TCellMix {
    uint16_t cell[4];
    float weight[4];
};

TCellMix CellMix(int h, int l) {
    const double fh = (h - kBin / 2.0) / kBin, fl = (l - kBin / 2.0) / kBin;
    const int h0 = static_cast<int>(std::floor(fh)), l0 = static_cast<int>(std::floor(fl));
    const double th = fh - h0, tl = fl - l0;
    auto cell = [](int hb, int lb) {
        return static_cast<uint16_t>(std::clamp(hb, 0, kBins - 1) * kBins +
                                     std::clamp(lb, 0, kBins - 1));
    };
    return {{cell(h0, l0), cell(h0, l0 + 1), cell(h0 + 1, l0), cell(h0 + 1, l0 + 1)},
            {static_cast<float>((1 - th) * (1 - tl)), static_cast<float>((1 - th) * tl),
             static_cast<float>(th * (1 - tl)), static_cast<float>(th * tl)}};
}

struct TBgrF {
    double b, g, r;
};

// Random draws for the training pictures.
struct TSampler {
    std::mt19937 random;
    explicit TSampler(uint32_t seed) : random(seed) {}
    double Uniform(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    }
    double Noise() { return std::normal_distribution<double>(0.0, 2.0)(random); }
    TBgrF Hair() {  // from black to mid brown, now and then fair
        const double v = Uniform(0, 1) < 0.85 ? Uniform(10, 90) : Uniform(90, 170);
        return {v * Uniform(0.6, 1.0), v * Uniform(0.75, 1.0), v * Uniform(1.0, 1.4)};
    }
    TBgrF Foreground() {
        const double pick = Uniform(0, 1);
        if (pick < 0.25)
            return Hair();
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
};

double Smooth(double x) {  // 0 below 0, 1 above 1
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

// One training picture as the fit needs it: per pixel, how the keyer decides
// it, the truth, and for the composite the camera colour and the canvas.
struct TTrainingPicture {
    int width = 0;
    int height = 0;
    std::vector<Decision> decision;
    std::vector<TCellMix> mix;
    std::vector<float> alpha;
    std::vector<float> weight;        // of the opacity error
    std::vector<float> colourWeight;  // of the composite's colour error
    std::vector<float> shown;         // camera colour less canvas, 3 per pixel
    std::vector<float> wanted;        // true composite less canvas, 3 per pixel
};

// Training region of a pixel, weighted as the matting benchmark weighs its
// regions: each region's mean error counts once, the whole frame ten times.
enum TrainRegion {
    kTrainBack,
    kTrainShadow,
    kTrainSpot,
    kTrainEdge,
    kTrainStrand,
    kTrainSolid,
    kTrainRegions
};

// Renders a presenter-like picture over a green backdrop: soft-rimmed
// shapes, motion-blurred ones, a see-through sheet and hair strands, a lit,
// shaded and spotted backdrop, sensor noise, 4:2:2 chroma.
TTrainingPicture RenderTrainingPicture(int width, int height, uint32_t seed,
                                       const uint8_t* slice, double colourShare) {
    TSampler sampler(seed);
    const size_t pixels = static_cast<size_t>(width) * height;
    std::vector<float> alpha(pixels, 0.0f), fg(pixels * 3, 0.0f), strand(pixels, 0.0f);
    auto paint = [&](size_t i, double a, const TBgrF& c) {
        if (a <= 0.0)
            return;
        const double under = alpha[i], out = a + under * (1.0 - a);
        float* f = &fg[i * 3];
        f[0] = static_cast<float>((c.b * a + f[0] * under * (1.0 - a)) / out);
        f[1] = static_cast<float>((c.g * a + f[1] * under * (1.0 - a)) / out);
        f[2] = static_cast<float>((c.r * a + f[2] * under * (1.0 - a)) / out);
        alpha[i] = static_cast<float>(out);
    };
    // Shapes: ellipses with soft rims, some smeared along x by motion.
    const int shapes = static_cast<int>(sampler.Uniform(3, 6));
    std::vector<std::array<double, 4>> heads;
    for (int n = 0; n < shapes; ++n) {
        const double cx = sampler.Uniform(0, width), cy = sampler.Uniform(0, height);
        const double rx = sampler.Uniform(30, 140), ry = sampler.Uniform(30, 140);
        const bool moving = sampler.Uniform(0, 1) < 0.3;
        const double softX = moving ? sampler.Uniform(6, 20) : sampler.Uniform(1, 3);
        const double softY = moving ? sampler.Uniform(1, 3) : softX;
        const double opacity = sampler.Uniform(0, 1) < 0.2 ? sampler.Uniform(0.35, 0.7) : 1.0;
        const TBgrF c = opacity < 1.0 ? TBgrF{sampler.Uniform(180, 240), sampler.Uniform(180, 240),
                                              sampler.Uniform(180, 240)}
                                      : sampler.Foreground();
        heads.push_back({cx, cy, rx, ry});
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double dx = (x - cx) / rx, dy = (y - cy) / ry;
                const double r = std::sqrt(dx * dx + dy * dy);
                if (r > 1.5)
                    continue;
                const double soft = (std::abs(dx) * softX + std::abs(dy) * softY) /
                                    std::max(std::abs(dx) + std::abs(dy), 1e-9);
                const double distance = (r - 1.0) * std::min(rx, ry);
                paint(static_cast<size_t>(y) * width + x,
                      opacity * (1.0 - Smooth(distance / soft + 0.5)), c);
            }
        }
    }
    // Strands: thin curved lines leaving the shapes' rims.
    const int strands = static_cast<int>(sampler.Uniform(50, 110));
    for (int n = 0; n < strands; ++n) {
        const auto& head = heads[static_cast<size_t>(sampler.Uniform(0, heads.size())) % heads.size()];
        const double angle = sampler.Uniform(0, 6.2832);
        const double r0 = sampler.Uniform(0.8, 1.0), length = sampler.Uniform(20, 70);
        const double x0 = head[0] + head[2] * r0 * std::cos(angle);
        const double y0 = head[1] + head[3] * r0 * std::sin(angle);
        const double x1 = x0 + length * std::cos(angle), y1 = y0 + length * std::sin(angle);
        const double bend = sampler.Uniform(-12, 12);
        const double mx = (x0 + x1) / 2 - bend * std::sin(angle);
        const double my = (y0 + y1) / 2 + bend * std::cos(angle);
        const double half = sampler.Uniform(0.4, 1.1), opacity = sampler.Uniform(0.25, 0.75);
        const TBgrF c = sampler.Hair();
        const int left = std::max(0, static_cast<int>(std::min({x0, x1, mx})) - 3);
        const int right = std::min(width - 1, static_cast<int>(std::max({x0, x1, mx})) + 3);
        const int top = std::max(0, static_cast<int>(std::min({y0, y1, my})) - 3);
        const int bottom = std::min(height - 1, static_cast<int>(std::max({y0, y1, my})) + 3);
        for (int y = top; y <= bottom; ++y) {
            for (int x = left; x <= right; ++x) {
                double best = 1e9;
                for (int k = 0; k <= 48; ++k) {
                    const double t = k / 48.0;
                    const double px = (1 - t) * (1 - t) * x0 + 2 * t * (1 - t) * mx + t * t * x1;
                    const double py = (1 - t) * (1 - t) * y0 + 2 * t * (1 - t) * my + t * t * y1;
                    best = std::min(best, std::hypot(x - px, y - py));
                }
                const double cover = opacity * std::clamp(half + 0.5 - best, 0.0, 1.0);
                const size_t i = static_cast<size_t>(y) * width + x;
                paint(i, cover, c);
                strand[i] = std::max(strand[i], static_cast<float>(cover));
            }
        }
    }

    // Backdrop: green of some hue, a gradient, a light spot, a cast shadow.
    const TBgrF key{sampler.Uniform(49.5, 70.5), sampler.Uniform(156.6, 187.4),
                    sampler.Uniform(44.5, 65.5)};
    const double g0 = sampler.Uniform(0.75, 1.0), gx = sampler.Uniform(-0.2, 0.3),
                 gy = sampler.Uniform(-0.15, 0.1);
    const double spotX = sampler.Uniform(0, width), spotY = sampler.Uniform(0, height),
                 spotR = sampler.Uniform(50, 120), spotA = sampler.Uniform(0, 0.35);
    const double shadeX = sampler.Uniform(0, width), shadeY = sampler.Uniform(0, height),
                 shadeR = sampler.Uniform(60, 160), shadeSoft = sampler.Uniform(15, 40),
                 shadeDepth = sampler.Uniform(0.3, 0.55);
    const TBgrF canvasA{sampler.Uniform(0, 255), sampler.Uniform(0, 255), sampler.Uniform(0, 255)};
    const TBgrF canvasB{sampler.Uniform(0, 255), sampler.Uniform(0, 255), sampler.Uniform(0, 255)};

    std::vector<uint8_t> bgr(pixels * 3);
    std::vector<float> canvas(pixels * 3);
    std::vector<uint8_t> backdropRegion(pixels, kTrainBack);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double sx = (x - spotX) / spotR, sy = (y - spotY) / spotR;
            const double shade = shadeDepth * (1.0 - Smooth((std::hypot(x - shadeX, y - shadeY) -
                                                             shadeR) / shadeSoft + 0.5));
            const double gain = (g0 + gx * x / width + gy * y / height +
                                 spotA * std::exp(-(sx * sx + sy * sy))) * (1.0 - shade);
            const double back[3] = {key.b * gain, key.g * gain, key.r * gain};
            if (shade > 0.1)
                backdropRegion[i] = kTrainShadow;
            else if (spotA * std::exp(-(sx * sx + sy * sy)) > 0.08)
                backdropRegion[i] = kTrainSpot;
            const bool tile = ((x / 64) + (y / 48)) % 2;
            const double t = static_cast<double>(x) / width;
            const double cv[3] = {(tile ? canvasA.b : canvasB.b) * (1 - t) + 128 * t,
                                  (tile ? canvasA.g : canvasB.g) * (1 - t) + 128 * t,
                                  (tile ? canvasA.r : canvasB.r) * (1 - t) + 128 * t};
            for (int ch = 0; ch < 3; ++ch) {
                const double value = fg[i * 3 + ch] * alpha[i] + back[ch] * (1 - alpha[i]) +
                                     sampler.Noise();
                bgr[i * 3 + ch] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
                canvas[i * 3 + ch] = static_cast<float>(cv[ch]);
            }
        }
    }

    TTrainingPicture picture;
    picture.width = width;
    picture.height = height;
    picture.decision.resize(pixels);
    picture.mix.resize(pixels);
    picture.alpha = alpha;
    picture.weight.assign(pixels, 0.0f);
    picture.colourWeight.assign(pixels, 0.0f);
    picture.shown.resize(pixels * 3);
    picture.wanted.resize(pixels * 3);
    std::vector<uint8_t> region(pixels);
    double counts[kTrainRegions] = {};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x + 1 < width; x += 2) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const uint8_t* p0 = &bgr[i * 3];
            const uint8_t* p1 = p0 + 3;
            const int y0 = std::min(LumaOf(p0[0], p0[1], p0[2]), 255);
            const int y1 = std::min(LumaOf(p1[0], p1[1], p1[2]), 255);
            const int u = Chroma((p0[0] - y0 + p1[0] - y1) / 2, 1000, 1779, 889);
            const int v = Chroma((p0[2] - y0 + p1[2] - y1) / 2, 10000, 14075, 7037);
            for (int k = 0; k < 2; ++k) {
                const size_t j = i + k;
                int h = 0, l = 0;
                picture.decision[j] = Decide(u, v, k ? y1 : y0, slice, h, l);
                if (picture.decision[j] == Decision::kTable)
                    picture.mix[j] = CellMix(h, l);
                const pelorn::colour::TBgr shown = pelorn::colour::SampleColour(u, v, k ? y1 : y0);
                const int shownBytes[3] = {shown.b, shown.g, shown.r};
                for (int ch = 0; ch < 3; ++ch) {
                    const float cv = canvas[j * 3 + ch];
                    picture.shown[j * 3 + ch] = static_cast<float>(shownBytes[ch]) - cv;
                    picture.wanted[j * 3 + ch] = (fg[j * 3 + ch] - cv) * alpha[j];
                }
                const float a = alpha[j];
                region[j] = a <= 0.0f          ? backdropRegion[j]
                            : a >= 0.9999f      ? uint8_t{kTrainSolid}
                            : strand[j] > 0.05f ? uint8_t{kTrainStrand}
                                                : uint8_t{kTrainEdge};
                if (y >= 1 && y < height - 1 && x + k >= 1 && x + k < width - 1)
                    counts[region[j]] += 1;
            }
        }
    }
    double interior = 0.0;
    for (double c : counts) interior += c;
    for (int y = 1; y < height - 1; ++y) {
        for (int x = 1; x < width - 1; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const int r = region[i];
            picture.weight[i] = static_cast<float>(10.0 / interior + 1.0 / std::max(counts[r], 1.0));
            if (r == kTrainEdge || r == kTrainStrand)
                picture.colourWeight[i] = static_cast<float>(
                    colourShare / std::max(counts[kTrainEdge] + counts[kTrainStrand], 1.0) / (3 * 255));
        }
    }
    return picture;
}

// Fits the cells so that the mask after the compositor's fixed 1-2-1 / 2-4-2
// / 1-2-1 filter matches the true opacity (and, where the pictures carry a
// colour weight, the composite the true colours): the filtered mask is linear in the cell
// values, so projected sub-gradient steps on the mean absolute error, each
// cell's step scaled by the weight it carries, walk towards the weighted
// median the filter allows. The projection keeps every cell within 0..1 and
// never more opaque than the cell of lower H.
std::vector<double> FitCells(const std::vector<TTrainingPicture>& pictures) {
    std::vector<double> cells(static_cast<size_t>(kBins) * kBins);
    for (int hb = 0; hb < kBins; ++hb)
        for (int lb = 0; lb < kBins; ++lb)
            cells[hb * kBins + lb] =
                PriorOpacity(hb * kBin + kBin / 2, std::max(lb * kBin + kBin / 2, 1));
    auto project = [&] {
        for (double& c : cells) c = std::clamp(c, 0.0, 1.0);
        for (int lb = 0; lb < kBins; ++lb)
            for (int hb = 1; hb < kBins; ++hb)
                cells[hb * kBins + lb] = std::min(cells[hb * kBins + lb], cells[(hb - 1) * kBins + lb]);
    };
    project();

    std::vector<double> gradient(cells.size()), scale(cells.size());
    std::vector<float> mask, filtered, slope, spread;
    for (int pass = 0; pass <= kFitPasses; ++pass) {
        const bool scaling = pass == 0;  // the first pass only measures the weights
        std::fill(gradient.begin(), gradient.end(), 0.0);
        for (const TTrainingPicture& p : pictures) {
            const size_t pixels = p.alpha.size();
            const int w = p.width;
            mask.resize(pixels);
            filtered.assign(pixels, 0.0f);
            slope.assign(pixels, 0.0f);
            spread.assign(pixels, 0.0f);
            for (size_t i = 0; i < pixels; ++i) {
                const TCellMix& m = p.mix[i];
                mask[i] = p.decision[i] == Decision::kOpaque ? 1.0f
                          : p.decision[i] == Decision::kClear
                              ? 0.0f
                              : static_cast<float>(m.weight[0] * cells[m.cell[0]] +
                                                   m.weight[1] * cells[m.cell[1]] +
                                                   m.weight[2] * cells[m.cell[2]] +
                                                   m.weight[3] * cells[m.cell[3]]);
            }
            for (int y = 1; y < p.height - 1; ++y) {
                for (int x = 1; x < w - 1; ++x) {
                    const size_t i = static_cast<size_t>(y) * w + x;
                    const float* up = &mask[i - w];
                    const float* mid = &mask[i];
                    const float* down = &mask[i + w];
                    const float f = (up[-1] + 2 * up[0] + up[1] + 2 * mid[-1] + 4 * mid[0] +
                                     2 * mid[1] + down[-1] + 2 * down[0] + down[1]) /
                                    16.0f;
                    float g = 0.0f;
                    if (scaling) {
                        g = p.weight[i];
                        for (int ch = 0; ch < 3; ++ch)
                            g += p.colourWeight[i] * std::abs(p.shown[i * 3 + ch]);
                    } else {
                        g = f > p.alpha[i] ? p.weight[i] : (f < p.alpha[i] ? -p.weight[i] : 0.0f);
                        for (int ch = 0; ch < 3; ++ch) {
                            const float e = f * p.shown[i * 3 + ch] - p.wanted[i * 3 + ch];
                            g += p.colourWeight[i] * (e > 0 ? p.shown[i * 3 + ch]
                                                            : -p.shown[i * 3 + ch]);
                        }
                    }
                    slope[i] = g / 16.0f;
                }
            }
            // The filter is symmetric: the mask's slope is the filtered slope.
            for (int y = 0; y < p.height; ++y) {
                for (int x = 0; x < w; ++x) {
                    const size_t i = static_cast<size_t>(y) * w + x;
                    if (p.decision[i] != Decision::kTable)
                        continue;
                    float s = 0.0f;
                    for (int dy = -1; dy <= 1; ++dy) {
                        if (y + dy < 0 || y + dy >= p.height)
                            continue;
                        for (int dx = -1; dx <= 1; ++dx) {
                            if (x + dx < 0 || x + dx >= w)
                                continue;
                            s += slope[i + dy * w + dx] * ((dy ? 1 : 2) * (dx ? 1 : 2));
                        }
                    }
                    const TCellMix& m = p.mix[i];
                    for (int c = 0; c < 4; ++c) gradient[m.cell[c]] += m.weight[c] * s;
                }
            }
        }
        if (scaling) {
            scale = gradient;
            continue;
        }
        const double step = 0.06 * std::pow(0.03, static_cast<double>(pass - 1) / (kFitPasses - 1));
        for (size_t c = 0; c < cells.size(); ++c)
            if (scale[c] > 0.0)
                cells[c] -= step * gradient[c] / scale[c];
        project();
    }
    return cells;
}

std::vector<uint8_t> AngleTable() {
    std::vector<uint8_t> slice(pelorn::colour::kColourSliceBytes);
    pelorn::colour::BuildColourSlice(slice.data());

    std::vector<TTrainingPicture> pictures;
    for (uint32_t n = 0; n < kTrainingPictures; ++n)
        pictures.push_back(RenderTrainingPicture(640, 360, 7001 + n, slice.data(), kColourShare));
    const std::vector<double> cells = FitCells(pictures);

    std::vector<uint8_t> table(kAngleBytes, 0);
    // value[h][l] for h 0..509, l 0..510 (l = 0 is never read).
    std::vector<double> value(510 * 511, 0.0);
    auto at = [&](int h, int l) -> double& { return value[static_cast<size_t>(h) * 511 + l]; };
    for (int h = 0; h < 510; ++h) {
        for (int l = 1; l <= 510; ++l) {
            const TCellMix m = CellMix(h, l);
            double v = 0.0;
            for (int c = 0; c < 4; ++c) v += m.weight[c] * cells[m.cell[c]];
            if (h * kOpaqueRatio <= l)
                v = 1.0;
            if (h >= kClearFrom)
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
