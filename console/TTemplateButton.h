#pragma once

#include <QPushButton>

namespace console {

// A layout-template button painted by the dialog's own rule: light blue when
// pressed or showing the current template, otherwise the inactive-caption
// grey-blue; a 3D frame; the name centred, 2 pixels right and down while
// pressed.
class TTemplateButton final : public QPushButton {
    Q_OBJECT
public:
    static constexpr QRgb kCurrentFill = 0xFFA0C7FF;   // red 0xA0, green 0xC7, blue 0xFF
    static constexpr QRgb kInactiveFill = 0xFFBFCDDB;  // the classic inactive-caption colour

    TTemplateButton(const QString& text, QWidget* parent);

    void SetCurrent(bool current);
    bool IsCurrent() const { return m_bCurrent; }
    // The fill the next paint uses.
    QColor Fill() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_bCurrent = false;
};

}  // namespace console
