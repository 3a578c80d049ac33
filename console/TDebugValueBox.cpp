#include "console/TDebugValueBox.h"

namespace console {

TDebugValueBox::TDebugValueBox(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
    setRange(minimum, maximum);
    setValue(0);
    setKeyboardTracking(false);
}

void TDebugValueBox::stepBy(int steps) {
    QSpinBox::stepBy(steps > 0 ? 1 : (steps < 0 ? -1 : 0));
    if (m_onStep) m_onStep();
}

}  // namespace console
