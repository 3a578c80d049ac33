#include "engine/compositor/ColourMath.h"

#include <algorithm>
#include <cstring>

namespace pelorn::colour {
namespace {

int Limit(int value, int low, int high) {
    return std::min(std::max(value, low), high);
}

uint8_t ToByte(float unit) {
    return static_cast<uint8_t>(Limit(static_cast<int>(unit * 255.0f + 0.5f), 0, 255));
}

// One channel of the usual HSL-to-RGB conversion; t in turns.
float HueChannel(float p, float q, float t) {
    if (t < 0.0f)
        t += 1.0f;
    if (t > 1.0f)
        t -= 1.0f;
    if (t < 1.0f / 6.0f)
        return p + (q - p) * 6.0f * t;
    if (t < 0.5f)
        return q;
    if (t < 2.0f / 3.0f)
        return p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
    return p;
}

}  // namespace

TBgr SampleColour(int u, int v, int y) {
    const int gOff = (3455 * u + 7169 * v - 1354872) / 10000;
    const int bOff = (1779 * u - 227212) / 1000;
    const int rOff = (14075 * v - 1796600) / 10000;
    return {Clamp8(y + bOff), Clamp8(y - gOff), Clamp8(y + rOff)};
}

int KeyValue(int u, int v) {
    return static_cast<int16_t>((6803464 - 24700 * u - 28413 * v) / 10000);
}

int BlueKeyValue(int u, int v) {
    return static_cast<int16_t>((39035 * u - 4107512 - 6906 * v) / 10000);
}

TUnmixed Unmix(int a, int b, int c, int d, int e) {
    int alpha = 255;
    if (d > 0 && e > 0) {
        const int q = 255 * d / e;
        alpha = q > 255 ? 0 : 255 - q;
    }
    const int lambda = 255 - alpha;
    const int r = ((114 * a + 299 * c + 147390) / 1000) * lambda / 255;
    return {alpha, static_cast<uint8_t>(Clamp8(a - a * lambda / 255 + r)),
            static_cast<uint8_t>(Clamp8(b + r - lambda)),
            static_cast<uint8_t>(Clamp8(c - c * lambda / 255 + r))};
}

std::array<uint8_t, 3> HueEntry(int y, int u, int v) {
    const float fy = static_cast<float>(y);
    const float fu = static_cast<float>(u - 128);
    const float fv = static_cast<float>(v - 128);
    auto unit = [](float x) { return std::min(std::max(x, 0.0f) + 0.5f, 255.0f) / 255.0f; };
    const float b = unit(fy + 1.779f * fu);
    const float g = unit(fy - 0.3455f * fu - 0.7169f * fv);
    const float r = unit(fy + 1.4075f * fv);

    const float high = std::max({r, g, b});
    const float low = std::min({r, g, b});
    const float lightness = (high + low) / 2.0f;
    float saturation = 0.0f;
    float hue = 0.0f;
    if (high != low) {
        const float span = high - low;
        saturation = lightness < 0.5f ? span / (high + low) : span / (2.0f - high - low);
        if (high == r) {
            hue = (g - b) / span;
        } else if (high == g) {
            hue = (b - r) / span + 2.0f;
        } else {
            hue = (r - g) / span + 4.0f;
        }
        hue *= 60.0f;
        if (hue < 0.0f)
            hue += 360.0f;
        if (hue == 360.0f)
            hue = 0.0f;
    }
    const int hueByte = static_cast<int>(hue * 255.0f / 359.0f + 0.5f);
    return {static_cast<uint8_t>(Limit(hueByte, 0, 255)), ToByte(saturation), ToByte(lightness)};
}

std::array<uint8_t, 3> ColourEntry(int h, int s, int l) {
    const float hue = static_cast<float>(h) * 359.0f / 255.0f;
    const float sat = static_cast<float>(s) / 255.0f;
    const float light = static_cast<float>(l) / 255.0f;
    float r = light;
    float g = light;
    float b = light;
    if (sat != 0.0f) {
        const float q = light < 0.5f ? light * (1.0f + sat) : light + sat - light * sat;
        const float p = 2.0f * light - q;
        const float turn = hue / 360.0f;
        r = HueChannel(p, q, turn + 1.0f / 3.0f);
        g = HueChannel(p, q, turn);
        b = HueChannel(p, q, turn - 1.0f / 3.0f);
    }
    return {ToByte(b), ToByte(g), ToByte(r)};
}

void BuildColourSlice(uint8_t* slice) {
    for (int h = 0; h < 256; ++h) {
        for (int s = 0; s < 256; ++s) {
            const auto entry = ColourEntry(h, s, kColourSliceLightness);
            std::memcpy(slice + (static_cast<size_t>(h) * 256 + s) * 3, entry.data(), 3);
        }
    }
}

TDerived DerivedEntry(int u, int v, int y, const uint8_t* colourSlice) {
    const TBgr in = SampleColour(u, v, y);
    const int kc = Limit(KeyValue(u, v), -510, 510);
    const int den = Limit(510 - 2 * y - (17790 * u + 14075 * v - 4073720) / 10000, -510, 510);

    const TUnmixed first = Unmix(in.b, in.g, in.r, kc, den);
    TDerived out{};
    out.offset = static_cast<int16_t>(first.b + first.r);

    const int b1 = Clamp8(2 * in.b - first.b);
    const int g1 = Clamp8(2 * in.g - first.g);
    const int r1 = Clamp8(2 * in.r - first.r);
    const TUnmixed second = Unmix(b1, g1, r1, 2 * g1 - b1 - r1, 510 - b1 - r1);

    const int bx = in.b - second.b * second.alpha / 255;
    const int gx = in.g - second.g * second.alpha / 255;
    const int rx = in.r - second.r * second.alpha / 255;
    const int n =
        Limit((114 * std::max(bx, 0) + 587 * std::max(gx, 0) + 299 * std::max(rx, 0) + 500) / 1000,
              0, 255);
    const int o = (255 - second.alpha) * y / 255 - n;
    out.c0 = static_cast<uint8_t>(Clamp8(bx + o));
    out.c1 = static_cast<uint8_t>(Clamp8(gx + o));
    out.c2 = static_cast<uint8_t>(Clamp8(rx + o));

    const int extremes = std::min({in.b, in.g, in.r}) + std::max({in.b, in.g, in.r});
    out.scale = static_cast<int16_t>(extremes == 0 ? 0 : 128 * in.g / extremes);

    const auto hsl = HueEntry(y, u, v);
    const bool greenHue = hsl[0] >= 44 && hsl[0] <= 127;
    if (greenHue && y >= 129) {
        const uint8_t* colour = colourSlice + (static_cast<size_t>(hsl[0]) * 256 + hsl[1]) * 3;
        const int greenness = 2 * colour[1] - colour[0] - colour[2];
        out.spot = static_cast<uint8_t>(Limit(greenness, 0, 510) / 2);
    }
    if (greenHue && out.scale != 0) {
        const int a =
            static_cast<int16_t>(std::min(kc, 2 * out.c1 - out.c0 - out.c2) * 256 / out.scale);
        out.shade = static_cast<uint8_t>(a <= 0 ? 0 : (a > 510 ? 255 : a / 2));
    }
    return out;
}

void StoreDerived(const TDerived& entry, uint8_t* bytes) {
    bytes[0] = entry.c0;
    bytes[1] = entry.c1;
    bytes[2] = entry.c2;
    bytes[3] = 0;
    std::memcpy(bytes + 4, &entry.scale, 2);
    std::memcpy(bytes + 6, &entry.offset, 2);
    bytes[8] = entry.spot;
    bytes[9] = entry.shade;
}

void BuildLevelCurve(int level, uint8_t* curve) {
    const int n = std::max(Limit(level, 0, 255), 1);
    for (int x = 0; x < 256; ++x) curve[x] = static_cast<uint8_t>(x <= n ? 255 * x / n : 255);
}

}  // namespace pelorn::colour
