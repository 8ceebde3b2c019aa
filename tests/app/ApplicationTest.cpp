// The program-wide look: Qt's standard texts in Chinese, message boxes wide enough for their captions, a Latin
// face that tells I, l and 1 apart in every window, and the names the desktop matches the window by.
#include "app/Application.h"
#include "app/AppState.h"
#include "app/AuthDialog.h"
#include "runtime/MsgBox.h"
#include "servers/ServerEditorDialog.h"
#include "servers/ServerPage.h"
#include "support/ModalDialogs.h"
#include "tools/NetToolsPage.h"
#include "ui/MainWindow.h"
#include "ui/PasswordDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct ShownBox {
    QStringList buttons;
    int width = 0;
};

// Shows a real box through the message-box service and reads it while it is up.
ShownBox Show(const QString& caption, MsgBox::Buttons buttons, MsgBox::Icon icon = MsgBox::Icon::None) {
    ShownBox shown;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        for (const QAbstractButton* button : box->buttons()) {
            shown.buttons.append(button->text());
        }
        shown.width = box->width();
        box->reject();
    });
    MsgBox::Show(QStringLiteral("是"), caption, buttons, icon);
    return shown;
}

TEST(ApplicationTest, StandardButtonsAndTheEditMenuSpeakChinese) {
    EXPECT_EQ(Show(QStringLiteral("提示"), MsgBox::Buttons::OkCancel).buttons,
              (QStringList{QStringLiteral("确定"), QStringLiteral("取消")}));
    EXPECT_EQ(Show(QStringLiteral("提示"), MsgBox::Buttons::YesNo).buttons,
              (QStringList{QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")}));

    QLineEdit box(QStringLiteral("text"));
    const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    QStringList actions;
    for (const QAction* action : menu->actions()) {
        actions.append(action->text().section(u'\t', 0, 0)); // without the shortcut
    }
    EXPECT_TRUE(actions.contains(QStringLiteral("复制(&C)"))) << actions.join(u' ').toStdString();
    EXPECT_TRUE(actions.contains(QStringLiteral("全选"))) << actions.join(u' ').toStdString();
}

TEST(ApplicationTest, EveryBoxIsWideEnoughForItsCaption) {
    // A title bar as desktops draw it: the caption in a bold 11 pt face beside an icon and three buttons.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    titleFont.setPointSize(11);
    const QFontMetrics title(titleFont);
    constexpr int kIconAndButtons = 4 * 24;
    for (const QString& caption :
         {QStringLiteral("错误"), QStringLiteral("输入出错"), MsgBox::DefaultCaption(), QStringLiteral("操作错误"),
          QStringLiteral("删除项目"), QStringLiteral("一个比正文长得多的标题：服务器列表已被其他程序修改")}) {
        for (const MsgBox::Icon icon : {MsgBox::Icon::None, MsgBox::Icon::Error}) {
            EXPECT_GE(Show(caption, MsgBox::Buttons::Ok, icon).width,
                      title.horizontalAdvance(caption) + kIconAndButtons)
                << caption.toStdString();
        }
    }
}

// Every control that shows text, with the face its font resolves to first.
std::vector<std::pair<QString, QString>> PrimaryFaces(const QWidget& window) {
    std::vector<std::pair<QString, QString>> faces;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->inherits("QLineEdit") || widget->inherits("QPlainTextEdit") || widget->inherits("QTreeView") ||
            widget->inherits("QLabel") || widget->inherits("QAbstractButton") || widget->inherits("QGroupBox")) {
            faces.emplace_back(widget->objectName(), QFontInfo(widget->font()).family());
        }
    }
    return faces;
}

TEST(ApplicationTest, LatinTextInEveryWindowComesFromALatinFace) {
    // The CJK faces draw l like 1; a control may pick another Latin face (the ping console a fixed-pitch one).
    const QStringList cjk = InterfaceFontFamilies().mid(1);
    int fromTheLatinFace = 0;
    AppState state;
    ServerList servers;
    Bytes settings;
    std::string password;
    MainWindow main;
    main.EmbedPages(new ServerPage(servers, settings, password), new NetToolsPage);
    ServerEditorDialog editor(servers, 0);
    AuthDialog auth(state);
    PasswordDialog passwordDialog(password);
    for (const QWidget* window : std::initializer_list<const QWidget*>{&main, &editor, &auth, &passwordDialog}) {
        const auto faces = PrimaryFaces(*window);
        EXPECT_GT(faces.size(), 3u);
        for (const auto& [control, face] : faces) {
            EXPECT_FALSE(cjk.contains(face)) << window->metaObject()->className() << " " << control.toStdString();
            fromTheLatinFace += face == InterfaceFontFamilies().front() ? 1 : 0;
        }
    }
    EXPECT_GT(fromTheLatinFace, 50);
}

// With the bitmap face installed, Chinese text is drawn from its own 12-pixel bitmaps: every pixel of a caption
// is ink or ground, none the grey of a smoothed outline.
TEST(ApplicationTest, ChineseTextIsDrawnFromTheFacesBitmaps) {
    if (!QFontDatabase::families().contains(InterfaceFontFamilies()[1])) {
        GTEST_SKIP() << "AR PL UMing CN is not installed";
    }
    QImage picture(120, 24, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setFont(QApplication::font());
    painter.setPen(Qt::black);
    painter.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("远程桌面连接"));
    painter.end();
    int ink = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            ASSERT_TRUE(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255)) << x << "," << y;
            ink += pixel == qRgb(0, 0, 0) ? 1 : 0;
        }
    }
    EXPECT_GT(ink, 100);
}

TEST(ApplicationTest, TheDesktopEntryNamesTheRunningWindowAndItsIconComesAtEverySize) {
    const QString entryPath =
        QStringLiteral(TOLVAR_PACKAGING_DIR "/") + QGuiApplication::desktopFileName() + QStringLiteral(".desktop");
    ASSERT_TRUE(QFile::exists(entryPath)) << entryPath.toStdString();
    QFile entry(entryPath);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(u'\n');
    // The X11 window class is the application name; docks match it against the entry's StartupWMClass.
    EXPECT_TRUE(lines.contains(QStringLiteral("StartupWMClass=") + QCoreApplication::applicationName()));

    // The icon comes once a window has been drawn.
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.windowIcon().isNull(); }));
    const QList<QSize> sizes = window.windowIcon().availableSizes();
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
        EXPECT_EQ(window.windowIcon().pixmap(size).size(), QSize(size, size)) << size;
    }
}

} // namespace
