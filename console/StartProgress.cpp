#include "console/StartProgress.h"

#include <QProgressBar>
#include <QVBoxLayout>

namespace console {

StartProgress::StartProgress() : m_pBar(new QProgressBar(this)) {
    setObjectName(QStringLiteral("150"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    m_pBar->setObjectName(QStringLiteral("3027"));
    m_pBar->setRange(0, 100);
    m_pBar->setValue(10);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pBar);
    resize(320, 40);
}

void StartProgress::SetPos(int position) {
    m_pBar->setValue(position);
    if (isVisible()) repaint();
}

int StartProgress::Pos() const { return m_pBar->value(); }

}  // namespace console
