#include "console/CCamControlPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace console {

using platform::ECamControlType;

CCamControlPages::CCamControlPages(platform::TCameraControls& controls, QWidget* owner)
    : QDialog(owner), m_controls(controls) {
    setModal(true);
    setWindowTitle(QString());
    auto* form = new QFormLayout;
    for (platform::TCamControlInfo& info : m_controls.List()) m_rows.push_back({std::move(info)});
    for (TRow& row : m_rows) form->addRow(QString::fromStdString(row.info.name), MakeWidget(row));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    Refresh();
}

QWidget* CCamControlPages::MakeWidget(TRow& row) {
    const platform::TCamControlInfo& info = row.info;
    const uint32_t id = info.id;
    QWidget* result = nullptr;
    switch (info.type) {
    case ECamControlType::Integer: {
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setRange(info.minimum, info.maximum);
        slider->setSingleStep(std::max(1, info.step));
        slider->setPageStep(std::max(1, info.step));
        connect(slider, &QSlider::valueChanged, this, [this, id](int value) { Apply(id, value); });
        row.widget = slider;
        row.valueLabel = new QLabel(this);
        row.valueLabel->setMinimumWidth(row.valueLabel->fontMetrics().horizontalAdvance(QStringLiteral("-00000")));
        auto* holder = new QWidget(this);
        auto* line = new QHBoxLayout(holder);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(slider, 1);
        line->addWidget(row.valueLabel);
        result = holder;
        break;
    }
    case ECamControlType::Boolean: {
        auto* box = new QCheckBox(this);
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { Apply(id, on ? 1 : 0); });
        row.widget = result = box;
        break;
    }
    case ECamControlType::Menu: {
        auto* list = new QComboBox(this);
        for (const auto& [index, name] : info.menu) list->addItem(QString::fromStdString(name), index);
        connect(list, &QComboBox::activated, this, [this, id, list](int entry) { Apply(id, list->itemData(entry).toInt()); });
        row.widget = result = list;
        break;
    }
    case ECamControlType::Button: {
        auto* button = new QPushButton(QString::fromStdString(info.name), this);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, id] { Apply(id, 1); });
        row.widget = result = button;
        break;
    }
    }
    row.widget->setObjectName(QString::number(id));
    return result;
}

void CCamControlPages::Apply(uint32_t id, int32_t value) {
    m_controls.SetById(id, value);
    Refresh();
}

void CCamControlPages::ShowValue(TRow& row, int32_t value) {
    const QSignalBlocker quiet(row.widget);
    switch (row.info.type) {
    case ECamControlType::Integer:
        static_cast<QSlider*>(row.widget)->setValue(value);
        row.valueLabel->setText(QString::number(value));
        break;
    case ECamControlType::Boolean: static_cast<QCheckBox*>(row.widget)->setChecked(value != 0); break;
    case ECamControlType::Menu: {
        auto* list = static_cast<QComboBox*>(row.widget);
        list->setCurrentIndex(list->findData(value));
        break;
    }
    case ECamControlType::Button: break;
    }
}

// One change may switch others (an automatic control greys its value), so
// every row is read again.
void CCamControlPages::Refresh() {
    std::vector<platform::TCamControlInfo> current = m_controls.List();
    for (TRow& row : m_rows) {
        const auto found = std::find_if(current.begin(), current.end(),
                                        [&row](const platform::TCamControlInfo& info) { return info.id == row.info.id; });
        const bool present = found != current.end();
        if (present) {
            row.info.inactive = found->inactive;
            row.info.readOnly = found->readOnly;
        }
        row.widget->setEnabled(present && !row.info.inactive && !row.info.readOnly);
        int32_t value = 0;
        if (row.info.type != ECamControlType::Button && present && m_controls.GetById(row.info.id, &value) == 0)
            ShowValue(row, value);
    }
}

void CCamControlPages::PlaceAt(int x, int y) {
    adjustSize();
    const QScreen* screen = QGuiApplication::screenAt(QPoint(x, y));
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        move(x, y);
        return;
    }
    const QRect area = screen->availableGeometry();
    move(std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - width())),
         std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - height())));
}

}  // namespace console
