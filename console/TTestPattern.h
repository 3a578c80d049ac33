#pragma once

#include <array>
#include <cstdint>

struct AVFrame;

namespace console {

// The test pattern the frame handler can draw into 1920 x 1080 BGR24
// frames: 5 x 5 cells, each filled with the next colour of a sequence and
// showing its three bytes as white bit squares along its top. The engine's
// output thread only.
class TTestPattern {
public:
    static constexpr int kWidth = 1920, kHeight = 1080;
    static constexpr int kGrid = 5, kSquare = 10;

    TTestPattern();

    // Whether the frame is one the pattern is drawn into (format 3, 1920 x 1080).
    static bool Fits(const AVFrame* frame);
    // Draws the pattern into a fitting frame; false for another frame.
    bool Draw(AVFrame* frame);

    int64_t Frames() const { return m_nFrames; }
    // The colour the next cell gets.
    std::array<uint8_t, 3> NextColour() const { return {m_table[m_nA], m_table[m_nB], m_table[m_nC]}; }

private:
    void FillCell(uint8_t* frame, int stride, int cellLeft, int cellTop) const;
    void AdvanceColour();
    void StepColour();

    std::array<uint8_t, 256> m_table{};
    int m_nA = 0, m_nB = 0, m_nC = 0;
    int64_t m_nFrames = 0;
};

}  // namespace console
