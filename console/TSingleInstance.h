#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

class QLocalServer;

namespace console {

// One console per user session. The first start holds an exclusive lock on
// "corvane.lock" for its whole life; the kernel drops the lock with the
// process, so a crashed console never blocks the next start. The holder
// listens on "corvane.sock" beside it, where a later start sends its
// dispatch code.
class TSingleInstance final : public QObject {
    Q_OBJECT
public:
    using OnMessage = std::function<void(int code, int64_t argument)>;

    // $XDG_RUNTIME_DIR/Quindle, or the state folder when it is unset.
    static std::string DefaultFolder();

    explicit TSingleInstance(std::string folder = DefaultFolder());
    ~TSingleInstance() override;

    // True when this process now holds the lock (or no lock can be made:
    // a console that cannot tell is allowed to run).
    bool Acquire();
    // The holder: listens for later starts.
    bool Listen(OnMessage onMessage);
    // A later start: sends the code to the holder; false when it does not answer.
    bool Notify(int code, int64_t argument) const;

    std::string LockPath() const { return m_strFolder + "/corvane.lock"; }
    std::string SocketPath() const { return m_strFolder + "/corvane.sock"; }

private:
    void ReadMessages();

    std::string m_strFolder;
    int m_nLockFd = -1;
    QLocalServer* m_pServer = nullptr;
    OnMessage m_onMessage;
};

}  // namespace console
