#include "engine/TMattControls.h"

#include <algorithm>

namespace pelorn {
namespace {

int UsedLayers(const TCapLayout& layout) {
    return std::clamp<int>(layout.LayerCnt, 0, TCapLayout::kMaxLayers);
}

}  // namespace

TMattControls::TMattControls() {
    for (int i = 0; i < kParamCount; ++i) {
        m_values[i] = IsReservedParam(i) ? -1 : ParamTable()[i].defaultValue;
    }
    for (TCapLayer& layer : m_layout.layers) layer.Id = TCapLayer::kUnused;
}

int TMattControls::GetValue(int index) {
    if (!IsParamIndex(index)) return 0;
    std::lock_guard guard(m_lock);
    return m_values[index];
}

void TMattControls::SetValue(int index, int value) {
    if (!IsParamIndex(index)) return;
    std::lock_guard guard(m_lock);
    m_values[index] = ClampParam(index, value);
}

int TMattControls::GetProcessFlags() {
    std::lock_guard guard(m_lock);
    return m_nProcessFlags;
}

void TMattControls::SetProcessFlags(int flags) {
    std::lock_guard guard(m_lock);
    m_nProcessFlags = flags;
}

void TMattControls::SetLayout(const TCapLayout& layout) {
    if (layout.LayerCnt <= 0) return;
    std::lock_guard guard(m_lock);
    m_layout = layout;
    m_layout.LayerCnt = UsedLayers(layout);
    RescaleLayoutLocked();
    DisableEmptyLayersLocked();
}

void TMattControls::SetWorkingSize(int width, int height) {
    std::lock_guard guard(m_lock);
    if (width == m_nWidth && height == m_nHeight) return;
    m_nWidth = width;
    m_nHeight = height;
    m_layout = TCapLayout{};
    for (TCapLayer& layer : m_layout.layers) layer.Id = TCapLayer::kUnused;
}

void TMattControls::RescaleLayoutLocked() {
    if (m_nWidth <= 0 || m_nHeight <= 0) return;
    if (m_layout.MaxWidth == m_nWidth && m_layout.MaxHeight == m_nHeight) return;
    // A reference size of one pixel or less has no scale to map from.
    if (m_layout.MaxWidth <= 1 || m_layout.MaxHeight <= 1) return;
    RescaleLayout(&m_layout, m_nWidth, m_nHeight);
}

void TMattControls::DisableEmptyLayersLocked() {
    for (int i = 0; i < m_layout.LayerCnt; ++i) {
        TCapLayer& layer = m_layout.layers[i];
        if (layer.Position[2].x == layer.Position[0].x ||
            layer.Position[2].y == layer.Position[0].y) {
            layer.Flag &= ~TCapLayer::kFlagEnabled;
        }
    }
}

}  // namespace pelorn
