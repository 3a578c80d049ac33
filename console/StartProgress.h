#pragma once

#include <QDialog>

class QProgressBar;

namespace console {

// The start-up progress window (dialog 150): one bar "3027", no caption.
// It lives on the user-interface thread, where Qt draws; every SetPos
// repaints it at once, since the start-up work keeps the event loop away.
class StartProgress final : public QDialog {
    Q_OBJECT
public:
    StartProgress();

    void SetPos(int position);
    int Pos() const;

private:
    QProgressBar* m_pBar;
};

}  // namespace console
