#include "app/Application.h"

#include "runtime/MsgBox.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

void ConfigureApplication() {
    // AR PL UMing is a Song face with SimSun's metrics, so the laid-out windows keep their proportions.
    const QStringList cjkFonts{QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Sans CJK SC")};
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjkFonts);
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjkFonts);
    QApplication::setFont(QFont(QStringLiteral("SimSun"), 9));
    // Without this a style sheet keeps a list's header from taking the list's own font.
    QApplication::setAttribute(Qt::AA_UseStyleSheetPropagationInWidgetStyles);
    // Group box captions sit on the frame line, as the windows were laid out for, not above it.
    qApp->setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tolvar/icon.ico")));
    MsgBox::InstallFatalErrorPresenter();
}
