#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/TCapLayout.h"
#include "engine/compositor/CompositorKernels.h"

namespace pelorn {

// The frame overlay: a frame picture with alpha ("画面相框.png") and a base
// picture ("底图画布.bmp"), both at the working size. Placing it by the frame
// layer scales the frame picture into the layer's rectangle; the compositor
// then scales its background into the inner rectangle of a copy of the base
// picture and lays the placed frame picture over it.
//
// Threads: used by the compositor's caller only.
class TFrameOverlay {
public:
    static constexpr const char* kFramePictureName = "画面相框.png";
    static constexpr const char* kBasePictureName = "底图画布.bmp";

    TFrameOverlay();
    ~TFrameOverlay();
    TFrameOverlay(const TFrameOverlay&) = delete;
    TFrameOverlay& operator=(const TFrameOverlay&) = delete;

    // Decodes both pictures and resamples them to width x height (at most
    // 1920 x 1080 pixels in all). A picture that cannot be decoded, or a frame
    // picture without alpha, leaves the overlay unloaded. Skipped when the
    // same two files are already loaded at that size.
    bool Load(const std::string& framePath, const std::string& basePath, int width, int height);
    bool IsLoaded() const { return m_bLoaded; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    // Places the frame picture by the layer's first and third points and its
    // border adjustment; nothing happens when they match the last placement.
    void Place(const TCapLayer& layer);
    // The layer's rectangle and the inner one the background goes into, both
    // clipped to the frame; empty when the layer's rectangle is empty.
    const kernels::TRect& LayerRect() const { return m_rcLayer; }
    // The layer's own rectangle (before clipping) has no area.
    bool LayerIsEmpty() const { return m_bLayerEmpty; }
    const kernels::TRect& InnerRect() const { return m_rcInner; }

    const uint8_t* BasePicture() const { return m_pBase.get(); }  // BGR24
    // The placed frame picture (BGR24) and its alpha, zero outside the layer.
    const uint8_t* FramePicture() const { return m_pPlacedFrame.get(); }
    const uint8_t* FrameAlpha() const { return m_pPlacedAlpha.get(); }

private:
    void Unload();

    bool m_bLoaded = false;
    std::string m_strFramePath;
    std::string m_strBasePath;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::unique_ptr<uint8_t[]> m_pFrame;  // BGRA at the working size
    std::unique_ptr<uint8_t[]> m_pBase;
    std::unique_ptr<uint8_t[]> m_pPlacedFrame;
    std::unique_ptr<uint8_t[]> m_pPlacedAlpha;

    bool m_bPlaced = false;
    TCapPoint m_lastFirst{};
    TCapPoint m_lastThird{};
    int16_t m_nLastBorder = 0;
    bool m_bLayerEmpty = true;
    kernels::TRect m_rcLayer{0, 0, -1, -1};
    kernels::TRect m_rcInner{0, 0, -1, -1};
};

}  // namespace pelorn
