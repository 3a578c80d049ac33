#include "console/CDlgInputTplName.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <iconv.h>

#include <memory>
#include <vector>

namespace console {
namespace {

constexpr char kTooLong[] = "名称限定在四个汉字或8个英文字符";

struct TIconvClose {
    void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};

}  // namespace

int GbkByteCount(const std::string& utf8) {
    const iconv_t opened = iconv_open("GBK", "UTF-8");
    if (opened == reinterpret_cast<iconv_t>(-1)) return -1;
    const std::unique_ptr<void, TIconvClose> converter(opened);
    // GBK never needs more than two bytes for a character UTF-8 writes in one or more.
    std::vector<char> output(utf8.size() * 2 + 1);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* out = output.data();
    size_t outLeft = output.size();
    if (iconv(opened, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) return -1;
    return static_cast<int>(output.size() - outLeft);
}

CDlgInputTplName::CDlgInputTplName(QWidget* parent, ShowMessage showMessage)
    : QDialog(parent), m_showMessage(std::move(showMessage)) {
    setObjectName(QStringLiteral("154"));
    setWindowTitle(QString::fromUtf8("模板名称"));
    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(QStringLiteral("3045"));
    auto* ok = new QPushButton(QString::fromUtf8("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromUtf8("取消"), this);
    cancel->setObjectName(QStringLiteral("2"));
    connect(ok, &QPushButton::clicked, this, &CDlgInputTplName::accept);
    connect(cancel, &QPushButton::clicked, this, &CDlgInputTplName::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* column = new QVBoxLayout(this);
    column->addWidget(m_pEdit);
    column->addLayout(buttons);
    m_pEdit->setFocus();
    if (!m_showMessage)
        m_showMessage = [this](const std::string& text) {
            QMessageBox::information(this, windowTitle(), QString::fromStdString(text));
        };
}

void CDlgInputTplName::accept() {
    const std::string name = m_pEdit->text().trimmed().toStdString();
    const int bytes = GbkByteCount(name);
    if (bytes < 0 || bytes > kMaxNameBytes) {
        m_showMessage(kTooLong);
        return;
    }
    m_strName = name;
    QDialog::accept();
}

void CDlgInputTplName::reject() {
    m_strName.clear();
    QDialog::reject();
}

}  // namespace console
