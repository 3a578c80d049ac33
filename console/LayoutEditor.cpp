#include "console/LayoutEditor.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

namespace console {
namespace {

// The border zone of a layer, this many client pixels wide, resizes it.
constexpr int kBorderPixels = 6;
constexpr int kWheelNotch = 120;

struct TZone {
    bool left, right, above, below;
    int hit;
    Qt::CursorShape cursor;
};

// Which side of the inner rectangle the point lies on decides the hit code
// and its cursor; the first matching row wins.
constexpr TZone kZones[] = {
    {true, false, true, false, LayoutEditor::kTopLeft, Qt::SizeFDiagCursor},
    {false, true, true, false, LayoutEditor::kTopRight, Qt::SizeBDiagCursor},
    {true, false, false, true, LayoutEditor::kBottomLeft, Qt::SizeBDiagCursor},
    {false, true, false, true, LayoutEditor::kBottomRight, Qt::SizeFDiagCursor},
    {true, false, false, false, LayoutEditor::kLeft, Qt::SizeHorCursor},
    {false, true, false, false, LayoutEditor::kRight, Qt::SizeHorCursor},
    {false, false, true, false, LayoutEditor::kTop, Qt::SizeVerCursor},
    {false, false, false, true, LayoutEditor::kBottom, Qt::SizeVerCursor},
};

int ScaleToClient(int value, int clientSize, int referenceSize) {
    return static_cast<int>(static_cast<double>(value) * clientSize / referenceSize + 0.5);
}

// a * b / c in 64 bits, clamped back into int; c is never 0.
int MulDiv(int64_t a, int64_t b, int64_t c) {
    return static_cast<int>(std::clamp<int64_t>(a * b / c, std::numeric_limits<int>::min(),
                                                std::numeric_limits<int>::max()));
}

bool MovesLeftSide(int hit) {
    return hit == LayoutEditor::kLeft || hit == LayoutEditor::kTopLeft || hit == LayoutEditor::kBottomLeft;
}

}  // namespace

LayoutEditor::LayoutEditor(QObject* parent) : QObject(parent) {}

LayoutEditor::~LayoutEditor() = default;

void LayoutEditor::Attach(QWidget* surface) {
    if (m_pSurface != nullptr) m_pSurface->removeEventFilter(this);
    m_pSurface = surface;
    if (m_pSurface == nullptr) return;
    m_pSurface->setMouseTracking(true);
    m_pSurface->installEventFilter(this);
}

void LayoutEditor::TakeLayout(const TCapLayout& layout) {
    m_layout = layout;
    const bool sized = m_layout.MaxWidth >= 2 && m_layout.MaxHeight >= 2;
    const bool resized = m_layout.MaxWidth != m_nRefWidth || m_layout.MaxHeight != m_nRefHeight;
    if (m_layout.LayerCnt > 0 && sized && resized) RescaleLayout(&m_layout, m_nRefWidth, m_nRefHeight);
    m_nSelected = -1;
    m_bDragging = false;
    m_nHitCode = kMove;
    m_cursor = Qt::ArrowCursor;
    m_nWheelRest = 0;
    ApplyCursor();
}

// A size below 2 x 2 cannot be a picture and could not be mapped back.
void LayoutEditor::SetReferenceSize(int width, int height) {
    if (width < 2 || height < 2) return;
    if (width == m_nRefWidth && height == m_nRefHeight) return;
    m_nRefWidth = width;
    m_nRefHeight = height;
    TakeLayout(m_layout);
}

int LayoutEditor::UsedLayers() const { return std::clamp(m_layout.LayerCnt, 0, TCapLayout::kMaxLayers); }

bool LayoutEditor::IsEditable(int index) const {
    if (index < 0 || index >= UsedLayers()) return false;
    return (m_layout.layers[index].Flag & 3) == 3;
}

const TCapLayer* LayoutEditor::SelectedEditable() const {
    return IsEditable(m_nSelected) ? &m_layout.layers[m_nSelected] : nullptr;
}

Qt::CursorShape LayoutEditor::Cursor() const {
    if (m_bModifierHeld) return Qt::CrossCursor;
    return m_nSelected >= 0 ? m_cursor : Qt::ArrowCursor;
}

LayoutEditor::TRect LayoutEditor::LayerRect(int index) const {
    const TCapPoint* points = m_layout.layers[index].Position;
    return {points[0].x, points[0].y, points[2].x, points[2].y};
}

void LayoutEditor::SetLayerRect(int index, const TRect& rect) {
    TCapPoint* points = m_layout.layers[index].Position;
    points[0] = {rect.left, rect.top};
    points[1] = {rect.right, rect.top};
    points[2] = {rect.right, rect.bottom};
    points[3] = {rect.left, rect.bottom};
}

QSize LayoutEditor::ClientSize() const { return m_pSurface != nullptr ? m_pSurface->size() : QSize(); }

QRect LayoutEditor::ClientRect(int index) const {
    const QSize client = ClientSize();
    if (client.isEmpty() || m_nRefWidth <= 0 || m_nRefHeight <= 0) return {};
    const TRect rect = LayerRect(index);
    const int left = ScaleToClient(rect.left, client.width(), m_nRefWidth);
    const int top = ScaleToClient(rect.top, client.height(), m_nRefHeight);
    const int right = ScaleToClient(rect.right, client.width(), m_nRefWidth);
    const int bottom = ScaleToClient(rect.bottom, client.height(), m_nRefHeight);
    if (right <= left || bottom <= top) return {};
    return QRect(left, top, right - left, bottom - top);
}

void LayoutEditor::PickZone(int index, QPoint point) {
    m_nHitCode = kMove;
    m_cursor = Qt::ArrowCursor;
    const QRect inner = ClientRect(index).adjusted(kBorderPixels, kBorderPixels, -kBorderPixels, -kBorderPixels);
    if (!IsEditable(index) || inner.contains(point)) return;
    const bool left = point.x() < inner.left(), right = !left && point.x() > inner.right();
    const bool above = point.y() < inner.top(), below = !above && point.y() > inner.bottom();
    for (const TZone& zone : kZones) {
        if (zone.left == left && zone.right == right && zone.above == above && zone.below == below) {
            m_nHitCode = zone.hit;
            m_cursor = zone.cursor;
            return;
        }
    }
}

void LayoutEditor::Hover(QPoint point) {
    m_nSelected = -1;
    m_nHitCode = kMove;
    m_cursor = Qt::ArrowCursor;
    for (int i = 0; i < UsedLayers() && m_layout.layers[i].Id != TCapLayer::kUnused; ++i) {
        if (!ClientRect(i).contains(point)) continue;
        m_nSelected = i;
        PickZone(i, point);
        break;
    }
    ApplyCursor();
}

void LayoutEditor::Press(QPoint point) {
    if (!IsEditable(m_nSelected) || !ClientRect(m_nSelected).contains(point)) return;
    m_bDragging = true;
    m_startPoint = point;
    m_startRect = LayerRect(m_nSelected);
    PickZone(m_nSelected, point);
    ApplyCursor();
}

LayoutEditor::TRect LayoutEditor::Dragged(QPoint point) const {
    const QSize client = ClientSize();
    const int dx = (point.x() - m_startPoint.x()) * m_nRefWidth / client.width();
    const int dy = (point.y() - m_startPoint.y()) * m_nRefHeight / client.height();
    const TRect& s = m_startRect;
    const int startWidth = s.right - s.left, startHeight = s.bottom - s.top;
    TRect r = LayerRect(m_nSelected);
    switch (m_nHitCode) {
        case kMove:
            r = {s.left + dx, s.top + dy, s.right + dx, s.bottom + dy};
            break;
        case kLeft:  // the height follows the width
            r.left = s.left + dx;
            r.bottom = r.top + MulDiv(startHeight, r.right - r.left, startWidth);
            break;
        case kRight:
            r.right = s.right + dx;
            r.bottom = r.top + MulDiv(startHeight, r.right - r.left, startWidth);
            break;
        case kTop:  // the width follows the height
            r.top = s.top + dy;
            r.right = r.left + MulDiv(r.bottom - r.top, startWidth, startHeight);
            break;
        case kBottom:
            r.bottom = s.bottom + dy;
            r.right = r.left + MulDiv(startWidth, r.bottom - r.top, startHeight);
            break;
        default:  // corners: both sides at the corner move freely
            if (MovesLeftSide(m_nHitCode)) r.left = s.left + dx; else r.right = s.right + dx;
            if (m_nHitCode == kTopLeft || m_nHitCode == kTopRight) r.top = s.top + dy; else r.bottom = s.bottom + dy;
            break;
    }
    // The compositor wants an even width: the side that moved gives way.
    if ((r.right - r.left + 1) % 2 != 0) {
        if (MovesLeftSide(m_nHitCode)) ++r.left; else --r.right;
    }
    return r;
}

void LayoutEditor::DragTo(QPoint point) {
    if (!m_bDragging || !IsEditable(m_nSelected) || ClientSize().isEmpty()) return;
    if (m_startRect.right == m_startRect.left || m_startRect.bottom == m_startRect.top) return;
    const TRect rect = Dragged(point);
    if (rect.right - rect.left + 1 <= m_nRefWidth / 10 || rect.bottom - rect.top + 1 <= m_nRefHeight / 10) return;
    if (rect == LayerRect(m_nSelected)) return;
    SetLayerRect(m_nSelected, rect);
    Report();
}

void LayoutEditor::Release(QPoint point) {
    if (!m_bDragging) return;
    m_bDragging = false;
    if (!IsEditable(m_nSelected)) return;
    const QRect inner =
        ClientRect(m_nSelected).adjusted(kBorderPixels, kBorderPixels, -kBorderPixels, -kBorderPixels);
    if (!inner.contains(point)) PickZone(m_nSelected, point);
    ExchangeAfterDrag();
    ApplyCursor();
}

// Layer 0 is drawn first: a layer dragged so that it no longer lies inside
// the other one goes to the back, so that it cannot hide it.
void LayoutEditor::ExchangeAfterDrag() {
    if (UsedLayers() < 2) return;
    TCapLayer* layers = m_layout.layers;
    if (layers[0].Id == TCapLayer::kUnused || layers[1].Id == TCapLayer::kUnused) return;
    const TRect a = LayerRect(0), b = LayerRect(1);
    const int dragged = m_nSelected;
    if (b.Contains(a) && a != b) return;
    if (a.Contains(b) && a != b) {
        std::swap(layers[0], layers[1]);
        if (dragged == 0 || dragged == 1) m_nSelected = 1 - dragged;
        return;
    }
    if (dragged == 1) std::swap(layers[0], layers[1]);
    m_nSelected = 0;
}

// Touchpads send fractions of a notch: they add up until a whole one.
void LayoutEditor::Wheel(QPoint point, int delta) {
    if (m_nSelected < 0 || m_nSelected >= UsedLayers() || !ClientRect(m_nSelected).contains(point)) return;
    m_nWheelRest += delta;
    const int notches = m_nWheelRest / kWheelNotch;
    m_nWheelRest -= notches * kWheelNotch;
    if (notches == 0) return;
    TCapLayer& layer = m_layout.layers[m_nSelected];
    layer.BrdAdjust = static_cast<int16_t>(std::clamp(layer.BrdAdjust - notches, 0, 0x7FFF));
    Report();
}

void LayoutEditor::SetModifierHeld(bool held) {
    if (held == m_bModifierHeld) return;
    m_bModifierHeld = held;
    ApplyCursor();
}

void LayoutEditor::ApplyCursor() {
    if (m_pSurface == nullptr) return;
    if (!m_bModifierHeld && m_nSelected < 0)
        m_pSurface->unsetCursor();
    else
        m_pSurface->setCursor(Cursor());
}

void LayoutEditor::Report() {
    if (m_onChanged) m_onChanged(m_layout);
}

bool LayoutEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_pSurface) return QObject::eventFilter(watched, event);
    constexpr Qt::KeyboardModifiers kCross = Qt::ShiftModifier | Qt::ControlModifier;
    switch (event->type()) {
        case QEvent::MouseMove: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            SetModifierHeld((mouse->modifiers() & kCross) != 0);
            if (m_bDragging) DragTo(mouse->position().toPoint()); else Hover(mouse->position().toPoint());
            break;
        }
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) Press(mouse->position().toPoint());
            break;
        }
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) Release(mouse->position().toPoint());
            break;
        }
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            Wheel(wheel->position().toPoint(), wheel->angleDelta().y());
            break;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            // A key's own modifier still shows in the event that releases it.
            const auto* key = static_cast<QKeyEvent*>(event);
            Qt::KeyboardModifiers held = key->modifiers() & kCross;
            if (event->type() == QEvent::KeyRelease && key->key() == Qt::Key_Shift) held &= ~Qt::ShiftModifier;
            if (event->type() == QEvent::KeyRelease && key->key() == Qt::Key_Control) held &= ~Qt::ControlModifier;
            if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_Shift) held |= Qt::ShiftModifier;
            if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_Control) held |= Qt::ControlModifier;
            SetModifierHeld(held != 0);
            break;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace console
