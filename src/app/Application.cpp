#include "app/Application.h"

#include "runtime/MsgBox.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

void ConfigureApplication() {
    const QStringList cjkFonts{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")};
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjkFonts);
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjkFonts);
    QApplication::setFont(QFont(QStringLiteral("SimSun"), 9));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tolvar/icon.ico")));
    MsgBox::InstallFatalErrorPresenter();
}
