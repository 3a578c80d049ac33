#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

#include "engine/TCapLayout.h"


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

    // What a press at the last point would do: kMove or one of the edge
    // and corner codes.
    enum HitCode : int {
        kMove = 1,
        kLeft = 10,
        kRight = 11,
        kTop = 12,
        kTopLeft = 13,
        kTopRight = 14,
        kBottom = 15,
        kBottomLeft = 16,
        kBottomRight = 17,
    };
    int Hit() const { return m_nHitCode; }
    bool IsDragging() const { return m_bDragging; }
    // The cursor the surface shows now.
    Qt::CursorShape Cursor() const;

    // The editing steps, in surface (client) coordinates; the event filter
    // feeds them from the surface's events.
    void Hover(QPoint point);
    void Press(QPoint point);
    void DragTo(QPoint point);
    void Release(QPoint point);
    // `delta` in eighths of a degree, positive away from the user.
    void Wheel(QPoint point, int delta);
    void SetModifierHeld(bool held);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Reference-unit rectangle, right and bottom inclusive.
    struct TRect {
        int left, top, right, bottom;
        bool operator==(const TRect&) const = default;
        bool Contains(const TRect& inner) const {
            return inner.left >= left && inner.top >= top && inner.right <= right && inner.bottom <= bottom;
        }
    };

    int UsedLayers() const;
    TRect LayerRect(int index) const;
    void SetLayerRect(int index, const TRect& rect);
    // The layer's rectangle on the surface; empty when the surface or the
    // reference has no size.
    QRect ClientRect(int index) const;
    QSize ClientSize() const;
    void PickZone(int index, QPoint point);
    TRect Dragged(QPoint point) const;
    void ExchangeAfterDrag();
    void ApplyCursor();
    void Report();

    QPointer<QWidget> m_pSurface;  // the echo window may go first
    LayoutChanged m_onChanged;
    int m_nRefWidth = 1024;
    int m_nRefHeight = 576;
    bool m_bDragging = false;
    TRect m_startRect{};
    QPoint m_startPoint;
    int m_nSelected = -1;
    TCapLayout m_layout{};
    int m_nHitCode = kMove;
    Qt::CursorShape m_cursor = Qt::ArrowCursor;
    bool m_bModifierHeld = false;
    int m_nWheelRest = 0;  // eighths of a degree short of a whole notch
};

}  // namespace console
