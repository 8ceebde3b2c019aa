#include "runtime/MsgBox.h"

#include "runtime/FatalError.h"
#include "runtime/GbkQt.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <algorithm>

namespace {

// Room a title bar takes besides its caption: the window's icon and three buttons with their margins, about as
// the common desktops draw them.
constexpr int kTitleBarReserve = 140;

QMessageBox::Icon IconOf(MsgBox::Icon icon) {
    switch (icon) {
    case MsgBox::Icon::Error:
        return QMessageBox::Critical;
    case MsgBox::Icon::Information:
        return QMessageBox::Information;
    case MsgBox::Icon::Warning:
        return QMessageBox::Warning;
    case MsgBox::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(MsgBox::Buttons buttons) {
    switch (buttons) {
    case MsgBox::Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgBox::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgBox::Buttons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

// The caption is drawn by the window manager in its title font, which is bold and often larger than the
// program's own; this errs on the wide side.
int TitleWidth(const QString& caption) {
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(std::max(titleFont.pointSizeF(), 11.0));
    return QFontMetrics(titleFont).horizontalAdvance(caption) + kTitleBarReserve;
}

// A box is only as wide as its text and buttons ask for, which for a short text leaves the title bar too narrow
// for its caption: the window manager cuts it to "输…错" or drops it. A row of the box's own layout that is as
// wide as the title bar needs widens the box before it is shown.
void FitCaption(QMessageBox& box) {
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(TitleWidth(box.windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

} // namespace

QString MsgBox::DefaultCaption() {
    return QStringLiteral("信息：");
}

MsgBox::Result MsgBox::Show(const QString& text, const QString& caption, Buttons buttons, Icon icon) {
    if (!Answers().empty()) {
        const Result answer = Answers().front();
        Answers().pop_front();
        AnsweredBoxes().push_back({text, caption, buttons, icon});
        return answer;
    }
    QMessageBox box(IconOf(icon), caption, text, ButtonsOf(buttons));
    // Task-modal: no owner, but nothing else of the program takes input while it is up.
    box.setWindowModality(Qt::ApplicationModal);
    FitCaption(box);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Result::Yes;
    case QMessageBox::No:
        return Result::No;
    case QMessageBox::Ok:
        return Result::Ok;
    default:
        return buttons == Buttons::YesNo ? Result::No : Result::Cancel;
    }
}

void MsgBox::SetNextAnswer(Result answer) {
    Answers().push_back(answer);
}

const std::vector<MsgBox::Shown>& MsgBox::Answered() {
    return AnsweredBoxes();
}

void MsgBox::ClearAnswered() {
    AnsweredBoxes().clear();
    Answers().clear();
}

void MsgBox::InstallFatalErrorPresenter() {
    SetFatalErrorPresenter([](const std::string& text) {
        // The core keeps Windows line ends; a Qt label wants plain line feeds.
        Show(Gbk::ToQString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")), QStringLiteral("错误"),
             Buttons::Ok, Icon::Error);
    });
}

std::deque<MsgBox::Result>& MsgBox::Answers() {
    static std::deque<Result> answers;
    return answers;
}

std::vector<MsgBox::Shown>& MsgBox::AnsweredBoxes() {
    static std::vector<Shown> shown;
    return shown;
}
