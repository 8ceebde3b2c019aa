#pragma once

#include <QString>
#include <deque>
#include <vector>

// Every message box of the program goes through here. Boxes are task-modal and have no owner window.
// Tests queue answers with SetNextAnswer, so a box is recorded instead of shown and never blocks.
class MsgBox {
public:
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Icon { None, Error, Information, Warning };
    enum class Result { Ok, Cancel, Yes, No };

    struct Shown {
        QString text;
        QString caption;
        Buttons buttons;
        Icon icon;
    };

    // The caption a box without one of its own gets.
    static QString DefaultCaption();

    static Result Show(const QString& text, const QString& caption = DefaultCaption(), Buttons buttons = Buttons::Ok,
                       Icon icon = Icon::None);

    // Test hook: the next box is answered with `answer` without being shown.
    static void SetNextAnswer(Result answer);
    // Boxes answered through the hook, oldest first.
    static const std::vector<Shown>& Answered();
    static void ClearAnswered();

    // Shows the runtime's fatal errors in a box captioned "错误" before the process ends.
    static void InstallFatalErrorPresenter();

private:
    static std::deque<Result>& Answers();
    static std::vector<Shown>& AnsweredBoxes();
};
