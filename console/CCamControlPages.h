#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

#include "platform/CameraControls.h"

class QWidget;
class QLabel;

namespace console {

// The camera's property pages: one slider per integer control, a check box
// per switch, a list per menu and a button per action, each named after the
// control's id. Every change goes to the camera at once; afterwards all
// controls are read again, so that a control is greyed while its automatic
// companion is on and a refused value springs back.
class CCamControlPages final : public QDialog {
    Q_OBJECT
public:
    CCamControlPages(platform::TCameraControls& controls, QWidget* owner);

    // Puts the top-left corner at (x, y), kept on the screen holding it.
    void PlaceAt(int x, int y);

private:
    struct TRow {
        platform::TCamControlInfo info;
        QWidget* widget = nullptr;
        QLabel* valueLabel = nullptr;  // integer controls only
    };

    QWidget* MakeWidget(TRow& row);
    void Apply(uint32_t id, int32_t value);
    void Refresh();
    void ShowValue(TRow& row, int32_t value);

    platform::TCameraControls& m_controls;
    std::vector<TRow> m_rows;
};

}  // namespace console
