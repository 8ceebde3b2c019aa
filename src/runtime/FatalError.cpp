#include "runtime/FatalError.h"

#include "runtime/EndProgram.h"
#include "runtime/Gbk.h"

#include <cstdio>

namespace {

FatalErrorPresenter& Presenter() {
    static FatalErrorPresenter presenter;
    return presenter;
}

} // namespace

std::string FatalErrorText(std::optional<int> code, std::string_view message) {
    std::string text = Gbk::FromUtf8("运行时出错!") + "\r\n\r\n";
    if (code) {
        text += Gbk::FromUtf8("错误代码：") + std::to_string(*code) + "\r\n\r\n";
    }
    if (!message.empty()) {
        text += Gbk::FromUtf8("错误信息：");
        text += message;
        text += "\r\n";
    }
    return text;
}

void SetFatalErrorPresenter(FatalErrorPresenter presenter) {
    Presenter() = std::move(presenter);
}

void FatalError(std::optional<int> code, std::string_view message) {
    const std::string text = FatalErrorText(code, message);
    if (Presenter()) {
        Presenter()(text);
    } else {
        std::fputs(Gbk::ToUtf8(text).c_str(), stderr);
    }
    EndProgram(-1);
}
