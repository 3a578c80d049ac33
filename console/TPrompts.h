#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace console {

// Message boxes, questions and choosers: everything that waits for the user.
// All operations run on the user-interface thread and return when the user
// has answered.
class IPrompts {
public:
    virtual ~IPrompts() = default;
    virtual void ShowBox(const std::string& text) = 0;
    // True for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // `filter` in the "Name (*.ext)|*.ext|...||" form; empty when cancelled.
    virtual std::string ChooseOpenFile(const std::string& filter) = 0;
    // A folder chooser with this title, opened at `start`; empty when
    // cancelled or when the choice is not a folder of the file system.
    virtual std::string ChooseFolder(const std::string& title, const std::string& start) = 0;
    // A line of text; nothing when cancelled.
    virtual std::optional<std::string> AskText(const std::string& question) = 0;
};

// Qt's modal dialogs, owned by the window given last to SetOwner.
class TQtPrompts final : public IPrompts {
public:
    void SetOwner(QWidget* owner) { m_pOwner = owner; }
    void ShowBox(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    std::string ChooseOpenFile(const std::string& filter) override;
    std::string ChooseFolder(const std::string& title, const std::string& start) override;
    std::optional<std::string> AskText(const std::string& question) override;

private:
    QWidget* m_pOwner = nullptr;
};

// For process tests and tools: every text is appended to a file (or
// /dev/stderr), one per line, and every question or chooser is answered No
// or Cancel at once.
class TFilePrompts final : public IPrompts {
public:
    explicit TFilePrompts(std::string path) : m_strPath(std::move(path)) {}
    void ShowBox(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    std::string ChooseOpenFile(const std::string& filter) override;
    std::string ChooseFolder(const std::string& title, const std::string& start) override;
    std::optional<std::string> AskText(const std::string& question) override;

private:
    void Append(const std::string& text) const;
    std::string m_strPath;
};

// Counts the prompts that are waiting for the user, so that a request to
// close the window that arrives meanwhile can wait until the last returns.
class TTrackedPrompts final : public IPrompts {
public:
    explicit TTrackedPrompts(IPrompts& inner) : m_inner(inner) {}

    IPrompts& Inner() { return m_inner; }
    bool IsWaiting() const { return m_nDepth > 0; }
    // Runs each time the outermost prompt has returned.
    void SetOnReturn(std::function<void()> onReturn) { m_onReturn = std::move(onReturn); }

    void ShowBox(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    std::string ChooseOpenFile(const std::string& filter) override;
    std::string ChooseFolder(const std::string& title, const std::string& start) override;
    std::optional<std::string> AskText(const std::string& question) override;

private:
    template <typename TCall>
    auto Track(TCall call);

    IPrompts& m_inner;
    int m_nDepth = 0;
    std::function<void()> m_onReturn;
};

// Routes the boxes that code without a window raises (platform::ShowMessageBox)
// to `prompts` on the user-interface thread. A box raised on another thread
// is queued there and the raising thread goes on at once: it may be a worker
// that the user-interface thread is stopping.
void RouteMessageBoxes(IPrompts& prompts);

// TFilePrompts on $QUINDLE_PROMPTS when it is set, else TQtPrompts.
std::unique_ptr<IPrompts> MakePrompts();

// The "Name (*.ext)|*.ext|...||" filter as Qt's "Name (*.ext);;...".
std::string QtFileFilter(const std::string& filter);

}  // namespace console
