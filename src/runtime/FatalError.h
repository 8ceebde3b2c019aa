#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The runtime's fatal error: a box captioned "错误" tells what went wrong, then the process ends with
// exit code -1. Texts are GBK.

// "运行时出错!", then the code and the message in their fixed layout.
std::string FatalErrorText(std::optional<int> code, std::string_view message);

// Shows the text (installed by the windows layer; without one the text goes to standard error).
using FatalErrorPresenter = std::function<void(const std::string& text)>;
void SetFatalErrorPresenter(FatalErrorPresenter presenter);

[[noreturn]] void FatalError(std::optional<int> code, std::string_view message);
