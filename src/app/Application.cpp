#include "app/Application.h"

#include "runtime/LogQt.h"
#include "runtime/MsgBox.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <QTranslator>

namespace {

// The name of the desktop entry that starts the program, which docks match the running window against.
constexpr auto kDesktopFileName = u"org.example.tolvar";

// Sizes the window icon is drawn at from the scalable picture when the program is built.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// The CJK face with bitmaps of its own at the interface's size.
constexpr auto kBitmapCjkFamily = u"AR PL UMing CN";

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

// Group boxes as the windows were laid out for: the caption sits on the frame line, 8 pixels in, and the frame
// starts 6 pixels below the box's top, where the children's positions expect it. The platform's own style puts
// the caption above the frame instead. A style sheet would do the same, but it makes every widget of the
// program go through the style sheet machinery, which costs the start a good part of its time.
class GroupBoxStyle : public QProxyStyle {
public:
    static constexpr int kFrameTop = 6;
    static constexpr int kCaptionLeft = 8;
    // Room between the caption and the frame line on either side.
    static constexpr int kCaptionPadding = 6;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || box == nullptr) {
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
        const QRect frame = box->rect.adjusted(0, kFrameTop, 0, 0);
        switch (part) {
        case SC_GroupBoxFrame:
            return frame;
        case SC_GroupBoxLabel:
            return box->text.isEmpty() ? QRect()
                                       : QRect(box->rect.left() + kCaptionLeft, box->rect.top(),
                                               box->fontMetrics.horizontalAdvance(box->text) + 2 * kCaptionPadding,
                                               box->fontMetrics.height());
        case SC_GroupBoxContents:
            return frame.adjusted(1, 1, -1, -1);
        default:
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || box == nullptr) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
        painter->save();
        // The frame line stops either side of the caption.
        painter->setClipRegion(QRegion(box->rect) - caption);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(box->palette.color(QPalette::Mid));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(
            QRectF(subControlRect(control, option, SC_GroupBoxFrame, widget)).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
        painter->restore();
        if (!caption.isEmpty()) {
            drawItemText(painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, box->palette,
                         box->state.testFlag(State_Enabled), box->text, QPalette::WindowText);
        }
    }
};

QIcon WindowIcon() {
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addFile(QStringLiteral(":/tolvar/icons/%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

// Decoding the icon's pictures and handing every size to the window system is work the first paint can do
// without: the windows take the icon once the first of them has been drawn.
class IconAfterFirstPaint : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            qApp->removeEventFilter(this);
            QTimer::singleShot(0, qApp, [] { QApplication::setWindowIcon(WindowIcon()); });
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

QStringList InterfaceFontFamilies() {
    // AR PL UMing is a Song face with SimSun's metrics, so the laid-out windows keep their proportions; its Latin
    // letters, though, draw l like 1 and I. DejaVu Serif's line height also keeps Noto's taller lines from
    // spilling out of two-line buttons. Where none of these is installed, as on Windows, SimSun itself draws all.
    return {QStringLiteral("DejaVu Serif"), QString::fromUtf16(kBitmapCjkFamily), QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("SimSun")};
}

void ConfigureApplication() {
    InstallQtTranslation();
    QCoreApplication::setApplicationName(QStringLiteral("tolvar"));
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kDesktopFileName));

    // A window that names SimSun (宋体) for a control gets the same families as the rest.
    const QStringList families = InterfaceFontFamilies();
    QFont::insertSubstitutions(QStringLiteral("SimSun"), families);
    QFont::insertSubstitutions(QStringLiteral("宋体"), families);
    QFont font;
    font.setFamilies(families);
    font.setPointSize(9);
    // SimSun at 9 pt is drawn from its 12-pixel bitmaps on Windows, and AR PL UMing carries bitmaps of the
    // same size: unsmoothed text takes them, crisp as the Windows program's, where smoothed text would have
    // each outline hinted and drawn anew before the first paint. Noto's CJK face has outlines only, which read
    // better smoothed.
    if (QFontDatabase::families().contains(QString::fromUtf16(kBitmapCjkFamily))) {
        font.setStyleStrategy(QFont::NoAntialias);
    }
    QApplication::setFont(font);
    QApplication::setStyle(new GroupBoxStyle);
    qApp->installEventFilter(new IconAfterFirstPaint(qApp));
    MsgBox::InstallFatalErrorPresenter();
    InstallLog();
}
