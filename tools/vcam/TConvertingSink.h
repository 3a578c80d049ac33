#pragma once

#include <memory>
#include <vector>

#include "tools/vcam/IFrameSink.h"
#include "tools/vcam/TFrameConverter.h"

namespace pelorn::vcam {

// What a consumer is given: a format (kAvYuyv422, ...) and a size, each
// either fixed or following the engine's picture.
struct TOutputChoice {
    static constexpr int kSameFormat = -1;
    int format = kAvYuyv422;  // kSameFormat: the engine's own format
    int width = 0;            // 0 with height 0: the engine's size
    int height = 0;
};

// Converts and scales every frame to the chosen output before it reaches the
// sink behind, and holds the last converted picture so that it can be shown
// again. A converted output keeps the format and size it was first configured
// with for as long as it lives: later pictures of another size or format are
// converted into it, so that whoever reads the output never sees it change.
// The engine's own format follows the engine, as the sink behind would.
class TConvertingSink final : public IFrameSink {
public:
    TConvertingSink(std::unique_ptr<IFrameSink> output, TOutputChoice choice)
        : m_pOutput(std::move(output)), m_choice(choice) {}

    // With a fixed format and size, configures the output at once and holds
    // the slate, so that it can be shown before the engine's first frame.
    // 0 (also when there is nothing to do) or the output's Configure error.
    int Prepare() override;

    int Configure(int width, int height, int format) override;
    int Write(const uint8_t* pixels, size_t size) override;
    int Repeat(TRepeat what) override;

private:
    int ConfigureOutput(int width, int height, int format);
    void FillSlate();

    std::unique_ptr<IFrameSink> m_pOutput;
    TOutputChoice m_choice;
    TFrameConverter m_converter;
    bool m_bOutputReady = false;
    bool m_bConverterReady = false;
    bool m_bShowingSlate = false;
    int m_nOutWidth = 0;
    int m_nOutHeight = 0;
    int m_nOutFormat = 0;
    size_t m_nSourceBytes = 0;
    std::vector<uint8_t> m_picture;  // the output's picture, allocated once per output format
};

}  // namespace pelorn::vcam
