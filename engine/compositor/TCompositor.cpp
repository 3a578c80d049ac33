#include "engine/compositor/TCompositor.h"

#include <algorithm>
#include <mutex>

namespace pelorn {
namespace {

uint8_t Clamp8(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// BT.601 limited range, one pixel.
void YuvToBgr(int y, int u, int v, uint8_t* out) {
    const int c = (y - 16) * 298;
    const int d = u - 128;
    const int e = v - 128;
    out[0] = Clamp8((c + 516 * d + 128) >> 8);
    out[1] = Clamp8((c - 100 * d - 208 * e + 128) >> 8);
    out[2] = Clamp8((c + 409 * e + 128) >> 8);
}

}  // namespace

TCompositor::TCompositor() = default;
TCompositor::~TCompositor() = default;

void TCompositor::SetFormats(int inFormat, int outFormat) {
    m_nInFormat = inFormat;
    m_nOutFormat = outFormat;
}

int TCompositor::SetUp(int width, int height) {
    m_bReady = false;
    m_nWidth = width;
    m_nHeight = height;
    m_controls.SetWorkingSize(width, height);
    m_bReady = true;
    return kOk;
}

// Placeholder until matting lands: the YUYV source converted, no matting.
int TCompositor::Compose(uint8_t* destination, const uint8_t* source, const uint8_t* canvas) {
    if (!m_bReady || destination == nullptr || source == nullptr || canvas == nullptr) {
        return kNotReady;
    }
    std::lock_guard guard(m_controls.Lock());
    const int bytes = m_nOutFormat == 28 ? 4 : 3;
    for (int row = 0; row < m_nHeight; ++row) {
        const uint8_t* in = source + static_cast<size_t>(row) * m_nWidth * 2;
        uint8_t* out = destination + static_cast<size_t>(row) * m_nWidth * bytes;
        for (int x = 0; x + 1 < m_nWidth; x += 2, in += 4) {
            YuvToBgr(in[0], in[1], in[3], out + x * bytes);
            YuvToBgr(in[2], in[1], in[3], out + (x + 1) * bytes);
            if (bytes == 4) out[x * 4 + 3] = out[(x + 1) * 4 + 3] = 255;
        }
    }
    return kOk;
}

}  // namespace pelorn
