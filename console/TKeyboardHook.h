#pragma once

namespace console {

// The keyboard hook the main dialog holds for its lifetime. Nothing is
// hooked on this platform: the object only marks the dialog's lifetime.
class TKeyboardHook {
public:
    TKeyboardHook() = default;
    ~TKeyboardHook() = default;
    TKeyboardHook(const TKeyboardHook&) = delete;
    TKeyboardHook& operator=(const TKeyboardHook&) = delete;
};

}  // namespace console
