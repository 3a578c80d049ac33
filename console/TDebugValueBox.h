#pragma once

#include <QSpinBox>

#include <functional>

namespace console {

// A number edit with its arrows. An arrow step (button, arrow key, wheel)
// moves the value by exactly one whatever the step size asked, then runs the
// callback; a typed value runs nothing until the next step.
class TDebugValueBox final : public QSpinBox {
    Q_OBJECT
public:
    TDebugValueBox(int minimum, int maximum, QWidget* parent);

    void SetOnStep(std::function<void()> onStep) { m_onStep = std::move(onStep); }
    void stepBy(int steps) override;

private:
    std::function<void()> m_onStep;
};

}  // namespace console
