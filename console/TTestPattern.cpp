#include "console/TTestPattern.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <cstring>

namespace console {

namespace {
constexpr int kBytes = 3;
constexpr int kCellWidth = TTestPattern::kWidth / TTestPattern::kGrid;    // 384
constexpr int kCellHeight = TTestPattern::kHeight / TTestPattern::kGrid;  // 216
constexpr int kBitsPerByte = 8;
}  // namespace

TTestPattern::TTestPattern() {
    // Even entries climb from 0, odd ones from 128: neighbouring indices
    // give far-apart levels.
    for (int i = 0; i < 128; ++i) {
        m_table[2 * i] = static_cast<uint8_t>(i);
        m_table[2 * i + 1] = static_cast<uint8_t>(i + 128);
    }
}

bool TTestPattern::Fits(const AVFrame* frame) {
    return frame != nullptr && frame->format == AV_PIX_FMT_BGR24 && frame->width == kWidth &&
           frame->height == kHeight && frame->data[0] != nullptr && frame->linesize[0] >= kWidth * kBytes;
}

bool TTestPattern::Draw(AVFrame* frame) {
    if (!Fits(frame)) return false;
    const int stride = frame->linesize[0];
    for (int row = 0; row < kHeight; ++row) std::memset(frame->data[0] + row * stride, 0, kWidth * kBytes);
    for (int cellRow = 0; cellRow < kGrid; ++cellRow) {
        for (int cellColumn = 0; cellColumn < kGrid; ++cellColumn) {
            FillCell(frame->data[0], stride, cellColumn * kCellWidth, cellRow * kCellHeight);
            AdvanceColour();
        }
    }
    ++m_nFrames;
    return true;
}

void TTestPattern::FillCell(uint8_t* frame, int stride, int cellLeft, int cellTop) const {
    const std::array<uint8_t, 3> colour = NextColour();
    // The first kSquare rows stay black but for the bit squares.
    for (int row = kSquare; row < kCellHeight; ++row) {
        uint8_t* pixel = frame + (cellTop + row) * stride + cellLeft * kBytes;
        for (int x = 0; x < kCellWidth; ++x, pixel += kBytes) std::memcpy(pixel, colour.data(), kBytes);
    }
    for (int j = 0; j < kBytes; ++j) {
        for (int k = 0; k < kBitsPerByte; ++k) {
            if ((colour[j] & (0x80 >> k)) == 0) continue;
            const int left = cellLeft + j * kBitsPerByte * kSquare + k * kSquare;
            for (int row = 0; row < kSquare; ++row)
                std::memset(frame + (cellTop + row) * stride + left * kBytes, 0xFF, kSquare * kBytes);
        }
    }
}

void TTestPattern::StepColour() {
    if (++m_nC <= 255) return;
    m_nC = 0;
    if (++m_nB <= 255) return;
    m_nB = 0;
    if (++m_nA <= 255) return;
    m_nA = 0;
}

void TTestPattern::AdvanceColour() {
    // Colours whose middle byte lies below the mean of the outer two are skipped.
    do {
        StepColour();
    } while (2 * m_table[m_nB] - m_table[m_nC] - m_table[m_nA] < 0);
}

}  // namespace console
