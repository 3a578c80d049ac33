#include "console/TTemplateButton.h"

#include <QPainter>
#include <qdrawutil.h>

namespace console {

namespace {

constexpr double kTextPoints = 8.8;
constexpr int kPressedShift = 2;

}  // namespace

TTemplateButton::TTemplateButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    QFont face(QStringLiteral("WenQuanYi Micro Hei"));
    face.setPointSizeF(kTextPoints);
    setFont(face);
}

void TTemplateButton::SetCurrent(bool current) {
    if (m_bCurrent == current) return;
    m_bCurrent = current;
    update();
}

QColor TTemplateButton::Fill() const { return QColor::fromRgba(isDown() || m_bCurrent ? kCurrentFill : kInactiveFill); }

void TTemplateButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, Fill());
    qDrawShadePanel(&painter, area, palette(), isDown(), 1);
    if (isDown()) {
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Dark), 1, Qt::DotLine));
        painter.drawRect(area.adjusted(3, 3, -4, -4));
    }
    const int shift = isDown() ? kPressedShift : 0;
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(area.translated(shift, shift), Qt::AlignCenter | Qt::TextSingleLine, text());
}

}  // namespace console
