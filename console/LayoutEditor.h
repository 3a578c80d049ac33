#pragma once

#include <QObject>

#include <functional>

#include "engine/TCapLayout.h"

class QWidget;

namespace console {

// Edits the console's current layout with the mouse on the echo window's
// picture surface: hover selects a layer and picks the cursor, dragging moves
// or resizes the two picture layers, the wheel changes a layer's border
// adjustment. Every accepted edit is reported at once through LayoutChanged.
// User-interface thread only.
class LayoutEditor final : public QObject {
    Q_OBJECT
public:
    using LayoutChanged = std::function<void(const TCapLayout&)>;

    explicit LayoutEditor(QObject* parent = nullptr);
    ~LayoutEditor() override;

    // Watches the surface's mouse, wheel and cursor events; its client
    // rectangle is the editing area.
    void Attach(QWidget* surface);
    // Called synchronously with the layout after every accepted edit.
    void SetLayoutChanged(LayoutChanged onChanged) { m_onChanged = std::move(onChanged); }

    // Copies the layout in and rescales it to the reference size; clears the
    // selection.
    void TakeLayout(const TCapLayout& layout);
    TCapLayout& CurrentLayout() { return m_layout; }
    const TCapLayout& CurrentLayout() const { return m_layout; }

    // The picture size the layout's points are expressed in; a change
    // rescales the layout and clears the selection.
    void SetReferenceSize(int width, int height);
    int ReferenceWidth() const { return m_nRefWidth; }
    int ReferenceHeight() const { return m_nRefHeight; }

    // -1 when no layer is selected.
    int Selected() const { return m_nSelected; }
    // The selected layer when it is editable, else nullptr.
    const TCapLayer* SelectedEditable() const;
    bool IsEditable(int index) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_pSurface = nullptr;
    LayoutChanged m_onChanged;
    int m_nRefWidth = 1024;
    int m_nRefHeight = 576;
    int m_nSelected = -1;
    TCapLayout m_layout{};
};

}  // namespace console
