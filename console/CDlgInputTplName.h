#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QLineEdit;

namespace console {

// Bytes `utf8` takes in the GBK code page; -1 when a character has no GBK form.
int GbkByteCount(const std::string& utf8);

// Asks for a template name. The stored name field and the template buttons
// are sized for eight GBK bytes: four Chinese characters or eight Latin ones.
// A longer name, or one GBK cannot write, is refused with a message and the
// dialog stays open.
class CDlgInputTplName final : public QDialog {
    Q_OBJECT
public:
    using ShowMessage = std::function<void(const std::string&)>;
    static constexpr int kMaxNameBytes = 8;

    // `showMessage` shows the refusal; a message box owned by the dialog
    // when empty.
    explicit CDlgInputTplName(QWidget* parent = nullptr, ShowMessage showMessage = {});

    // The accepted name, trimmed; empty when cancelled.
    const std::string& Name() const { return m_strName; }

public slots:
    void accept() override;
    void reject() override;

private:
    QLineEdit* m_pEdit = nullptr;  // 3045
    ShowMessage m_showMessage;
    std::string m_strName;
};

}  // namespace console
