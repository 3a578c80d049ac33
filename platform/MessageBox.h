#pragma once

#include <functional>
#include <string>

namespace platform {

// A modal message box shown by code that has no window of its own. The host
// program installs a handler that shows the text and returns once the user
// has closed the box; without one the text goes to standard error.
using MessageBoxHandler = std::function<void(const std::string& text)>;

void SetMessageBoxHandler(MessageBoxHandler handler);

// A host program exports a C function of this name, void(const char* text),
// that shows the text through its own handler; a shared library without a
// handler of its own calls it.
constexpr char kHostMessageBoxSymbol[] = "QuindleHostMessageBox";
void ShowMessageBox(const std::string& text);

}  // namespace platform
