#include "console/LayoutEditor.h"

#include <QWidget>

namespace console {

LayoutEditor::LayoutEditor(QObject* parent) : QObject(parent) {}

LayoutEditor::~LayoutEditor() = default;

void LayoutEditor::Attach(QWidget* surface) {
    if (m_pSurface != nullptr) m_pSurface->removeEventFilter(this);
    m_pSurface = surface;
    if (m_pSurface != nullptr) m_pSurface->installEventFilter(this);
}

void LayoutEditor::TakeLayout(const TCapLayout& layout) {
    m_layout = layout;
    if (m_layout.LayerCnt > 0 && m_layout.MaxWidth >= 2 && m_layout.MaxHeight >= 2)
        RescaleLayout(&m_layout, m_nRefWidth, m_nRefHeight);
    m_nSelected = -1;
}

void LayoutEditor::SetReferenceSize(int width, int height) {
    if (width == m_nRefWidth && height == m_nRefHeight) return;
    m_nRefWidth = width;
    m_nRefHeight = height;
    TakeLayout(m_layout);
}

bool LayoutEditor::IsEditable(int index) const {
    if (index < 0 || index >= std::min(m_layout.LayerCnt, TCapLayout::kMaxLayers)) return false;
    return (m_layout.layers[index].Flag & 3) == 3;
}

const TCapLayer* LayoutEditor::SelectedEditable() const {
    return IsEditable(m_nSelected) ? &m_layout.layers[m_nSelected] : nullptr;
}

bool LayoutEditor::eventFilter(QObject* watched, QEvent* event) { return QObject::eventFilter(watched, event); }

}  // namespace console
