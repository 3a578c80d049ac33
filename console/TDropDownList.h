#pragma once

#include <QComboBox>

#include <functional>

namespace console {

// A drop-down list that runs a callback just before its list opens, so the
// entries can be made again from the devices present at that moment.
class TDropDownList final : public QComboBox {
    Q_OBJECT
public:
    explicit TDropDownList(QWidget* parent) : QComboBox(parent) {}

    void SetOnDropDown(std::function<void()> onDropDown) { m_onDropDown = std::move(onDropDown); }
    void showPopup() override;

private:
    std::function<void()> m_onDropDown;
};

}  // namespace console
