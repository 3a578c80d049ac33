#include "console/TPrompts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <cstdlib>

#include "console/CDlgInputTplName.h"
#include "platform/MessageBox.h"

namespace console {

namespace {

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// Message texts use CR as their line break.
QString BoxText(const std::string& text) { return ToQt(text).replace(QLatin1Char('\r'), QLatin1Char('\n')); }

}  // namespace

void TQtPrompts::ShowBox(const std::string& text) {
    QMessageBox::information(m_pOwner, QString(), BoxText(text));
}

bool TQtPrompts::AskYesNo(const std::string& text) {
    return QMessageBox::question(m_pOwner, QString(), BoxText(text), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

std::string TQtPrompts::ChooseOpenFile(const std::string& filter) {
    return QFileDialog::getOpenFileName(m_pOwner, QString(), QString(), ToQt(QtFileFilter(filter)))
        .toStdString();
}

std::string TQtPrompts::ChooseFolder(const std::string& title, const std::string& start) {
    QWidget* owner = QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget() : m_pOwner;
    return QFileDialog::getExistingDirectory(owner, ToQt(title), ToQt(start)).toStdString();
}

std::optional<std::string> TQtPrompts::AskText(const std::string& question) {
    // The only text asked for is a template name.
    CDlgInputTplName dialog(m_pOwner, [this](const std::string& text) { ShowBox(text); });
    dialog.setWindowTitle(ToQt(question));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Name();
}

void TFilePrompts::Append(const std::string& text) const {
    std::FILE* file = std::fopen(m_strPath.c_str(), "a");
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", text.c_str());
    std::fclose(file);
}

void TFilePrompts::ShowBox(const std::string& text) { Append(text); }

bool TFilePrompts::AskYesNo(const std::string& text) {
    Append(text);
    return false;
}

std::string TFilePrompts::ChooseOpenFile(const std::string& filter) {
    Append(filter);
    return {};
}

std::string TFilePrompts::ChooseFolder(const std::string& title, const std::string&) {
    Append(title);
    return {};
}

std::optional<std::string> TFilePrompts::AskText(const std::string& question) {
    Append(question);
    return std::nullopt;
}

template <typename TCall>
auto TTrackedPrompts::Track(TCall call) {
    struct TDepth {
        TTrackedPrompts& self;
        explicit TDepth(TTrackedPrompts& owner) : self(owner) { ++self.m_nDepth; }
        ~TDepth() {
            if (--self.m_nDepth == 0 && self.m_onReturn) self.m_onReturn();
        }
    } depth(*this);
    return call();
}

void TTrackedPrompts::ShowBox(const std::string& text) {
    Track([&] { m_inner.ShowBox(text); });
}

bool TTrackedPrompts::AskYesNo(const std::string& text) {
    return Track([&] { return m_inner.AskYesNo(text); });
}

std::string TTrackedPrompts::ChooseOpenFile(const std::string& filter) {
    return Track([&] { return m_inner.ChooseOpenFile(filter); });
}

std::string TTrackedPrompts::ChooseFolder(const std::string& title, const std::string& start) {
    return Track([&] { return m_inner.ChooseFolder(title, start); });
}

std::optional<std::string> TTrackedPrompts::AskText(const std::string& question) {
    return Track([&] { return m_inner.AskText(question); });
}

void RouteMessageBoxes(IPrompts& prompts) {
    platform::SetMessageBoxHandler([&prompts](const std::string& text) {
        QCoreApplication* application = QCoreApplication::instance();
        if (QThread::currentThread() == application->thread()) {
            prompts.ShowBox(text);
            return;
        }
        QMetaObject::invokeMethod(application, [&prompts, text] { prompts.ShowBox(text); }, Qt::QueuedConnection);
    });
}

std::unique_ptr<IPrompts> MakePrompts() {
    const char* file = std::getenv("QUINDLE_PROMPTS");
    if (file != nullptr && *file != '\0') return std::make_unique<TFilePrompts>(file);
    return std::make_unique<TQtPrompts>();
}

std::string QtFileFilter(const std::string& filter) {
    // Pairs of (shown name, pattern) separated by "|"; only the names are
    // needed, since each carries its pattern in parentheses.
    const QStringList parts = ToQt(filter).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList names;
    for (qsizetype i = 0; i < parts.size(); i += 2) names << parts[i];
    return names.join(QStringLiteral(";;")).toStdString();
}

}  // namespace console
