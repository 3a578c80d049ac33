#pragma once

#include <cstdint>
#include <vector>

namespace beautyskin {

// The mean over the (2 kRadius + 1) x (2 kRadius + 1) window around each
// sample of a plane of floats, the window cut at the borders (a mean of
// fewer samples there). Rows: the window's taps added directly, vectorised
// along the row; columns: running sums, all columns of a row at once.
class TBoxFilter {
public:
    static constexpr int32_t kRadius = 2;

    // False without memory.
    bool Reserve(int32_t width, int32_t height);
    // out must not be in.
    void Run(const float* in, float* out);

private:
    void HorizontalMeans(const float* in, float* out);

    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    std::vector<float> m_padded;         // one row with kRadius zeros each side
    std::vector<float> m_inverseCounts;  // 1 / samples of each column's window
    std::vector<float> m_rows;           // the plane after the horizontal pass
    std::vector<float> m_columnSums;
};

}  // namespace beautyskin
