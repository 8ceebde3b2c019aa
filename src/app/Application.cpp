#include "app/Application.h"

#include "runtime/MsgBox.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// The name of the desktop entry that starts the program, which docks match the running window against.
constexpr auto kDesktopFileName = u"org.example.tolvar";

// Sizes the window icon is drawn at from the scalable picture when the program is built.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// Qt's own texts (the standard buttons "OK", "Cancel", "Yes" and "No", the edit boxes' context menu) in Chinese,
// as every other text of the program is, whatever the user's locale. Without the translation they stay English.
void InstallQtTranslation() {
    auto* translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

QIcon WindowIcon() {
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addFile(QStringLiteral(":/tolvar/icons/%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace

QStringList InterfaceFontFamilies() {
    // AR PL UMing is a Song face with SimSun's metrics, so the laid-out windows keep their proportions; its Latin
    // letters, though, draw l like 1 and I. DejaVu Serif's line height also keeps Noto's taller lines from
    // spilling out of two-line buttons and group captions.
    return {QStringLiteral("DejaVu Serif"), QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Sans CJK SC")};
}

void ConfigureApplication() {
    InstallQtTranslation();
    QCoreApplication::setApplicationName(QStringLiteral("tolvar"));
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kDesktopFileName));

    // The windows name SimSun (宋体) where they name a font; it is drawn by the same families as the rest.
    const QStringList families = InterfaceFontFamilies();
    QFont::insertSubstitutions(QStringLiteral("SimSun"), families);
    QFont::insertSubstitutions(QStringLiteral("宋体"), families);
    QFont font;
    font.setFamilies(families);
    font.setPointSize(9);
    QApplication::setFont(font);
    // Without this a style sheet keeps a list's header from taking the list's own font.
    QApplication::setAttribute(Qt::AA_UseStyleSheetPropagationInWidgetStyles);
    // Group box captions sit on the frame line, as the windows were laid out for, not above it.
    qApp->setStyleSheet(
        QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
                       "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));
    QApplication::setWindowIcon(WindowIcon());
    MsgBox::InstallFatalErrorPresenter();
}
