#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace console {

// Turns SIGINT and SIGTERM into a call on the user-interface thread: the
// handler only writes a byte into a pipe whose reading end the event loop
// watches. One instance per process.
class TStopSignals final : public QObject {
    Q_OBJECT
public:
    explicit TStopSignals(std::function<void()> onStop);
    ~TStopSignals() override;

private:
    std::function<void()> m_onStop;
    QSocketNotifier* m_pNotifier = nullptr;
};

}  // namespace console
