#pragma once

#include <QEvent>

#include <cstdint>

class QObject;

namespace console {

// Dispatch codes: what an asynchronous event asks the main dialog to do on
// the user-interface thread.
enum DispatchCode : int {
    kRestartVideo = 0,
    kRestartAudio = 1,
    kSecondInstance = 2,
    kShowWindows = 3,
    kCameraInUse = 5,
    kLayoutChanged = 11,
    kToggleRecord = 13,
    kTogglePush = 14,
    kSelectTemplate = 16,
    kSaveLayout = 17,
    kSaveLayoutAs = 18,
    kRenameTemplate = 19,
    kResetLayout = 20,
};

// WM_DISPATCH: a posted event carrying a dispatch code and its argument.
class TDispatchEvent final : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(2024);

    TDispatchEvent(int code, int64_t argument) : QEvent(kType), m_nCode(code), m_nArgument(argument) {}

    int Code() const { return m_nCode; }
    int64_t Argument() const { return m_nArgument; }

private:
    int m_nCode;
    int64_t m_nArgument;
};

// Posts WM_DISPATCH to `target`; callable from any thread.
void PostDispatch(QObject* target, int code, int64_t argument);

}  // namespace console
