#pragma once

#include <functional>
#include <string>

namespace platform {

// A modal message box shown by code that has no window of its own. The host
// program installs a handler that shows the text and returns once the user
// has closed the box; without one the text goes to standard error.
using MessageBoxHandler = std::function<void(const std::string& text)>;

void SetMessageBoxHandler(MessageBoxHandler handler);
void ShowMessageBox(const std::string& text);

}  // namespace platform
