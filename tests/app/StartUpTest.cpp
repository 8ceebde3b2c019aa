#include "app/StartUp.h"
#include "app/AppState.h"
#include "bookmarks/BookmarkList.h"
#include "runtime/Files.h"
#include "runtime/MsgBox.h"
#include "servers/ServerPage.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"
#include "support/ModalDialogs.h"
#include "support/TempDir.h"
#include "tools/NetToolsPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kStored = "localhost|3389|admin|pw|note\r\n"
                            "127.0.0.1|22|root||\r\n"
                            "#admin:1\r\n"
                            "#Start:0\r\n"
                            "#LoadinPass:<s3cret>\r\n";

class StartUpTest : public ::testing::Test {
protected:
    void TearDown() override {
        DisarmModalGuard();
        MsgBox::ClearAnswered();
    }

    static void WriteSettings(const std::string& text) {
        WriteTestFile("ms.ini", Rc4Crypt(BytesFromText(text), kSettingsKey));
    }

    static ServerPage* AnyServerPage() {
        for (QWidget* widget : QApplication::allWidgets()) {
            if (auto* page = qobject_cast<ServerPage*>(widget)) {
                return page;
            }
        }
        return nullptr;
    }

    static void Answer(QWidget* dialog, const QString& typed) {
        auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("编辑框1"));
        box->setText(typed);
        MsgBox::SetNextAnswer(MsgBox::Result::Ok);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("按钮1")), Qt::LeftButton);
    }

    TempDir dir_{true};
};

TEST_F(StartUpTest, WithoutSettingsBothPagesComeAtOnceAndCloseWritesTheDefaults) {
    ArmModalGuard();
    AppState state;
    std::unique_ptr<MainWindow> window = StartUp(state);
    EXPECT_TRUE(state.unlocked);

    auto* serverPage = window->findChild<ServerPage*>();
    ASSERT_NE(serverPage, nullptr);
    // The network tools page follows once the window has been drawn.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->findChild<NetToolsPage*>() != nullptr; }));
    auto* netToolsPage = window->findChild<NetToolsPage*>();
    EXPECT_EQ(serverPage->geometry(), QRect(1, 40, 600, 500));
    EXPECT_EQ(netToolsPage->geometry(), QRect(5, 40, 700, 500));
    EXPECT_TRUE(serverPage->isVisible());
    EXPECT_FALSE(netToolsPage->isVisible());
    EXPECT_FALSE(serverPage->isWindow()) << "embedded, not a window of its own";

    window->close();
    EXPECT_EQ(TextFromBytes(LoadSettings()), "#Start:1\r\n#LoadinPass:<>\r\n");
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(StartUpTest, EachChangeReachesTheFileAtOnceNotOnlyAtClose) {
    ArmModalGuard();
    AppState state;
    std::unique_ptr<MainWindow> window = StartUp(state);
    // A lost display or a crash never reaches the close: the change must already be on disk.
    window->findChild<QCheckBox*>(QStringLiteral("选择框_admin"))->setChecked(true);
    EXPECT_EQ(TextFromBytes(LoadSettings()), "#admin:1\r\n#Start:1\r\n#LoadinPass:<>\r\n");
}

TEST_F(StartUpTest, StoredPasswordIsAskedForBeforeThePagesAndWrongOnesAreRefused) {
    WriteSettings(kStored);
    const Bytes before = ReadWholeFile("ms.ini");

    bool mainWindowShownFirst = false;
    bool pagesBeforeUnlock = true;
    std::vector<QString> leftAfterRefusal;
    WhenModal([&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("身份验证 (Authentication)"));
        for (QWidget* top : QApplication::topLevelWidgets()) {
            mainWindowShownFirst |= qobject_cast<MainWindow*>(top) != nullptr && top->isVisible();
        }
        pagesBeforeUnlock = AnyServerPage() != nullptr;
        // Empty, wrong, wrong case and padded: each refused, the box emptied, the dialog kept.
        for (const QString& wrong : {QString(), QStringLiteral("wrong"), QStringLiteral("S3CRET"),
                                     QStringLiteral(" s3cret"), QStringLiteral("s3cret ")}) {
            Answer(dialog, wrong);
            leftAfterRefusal.push_back(dialog->findChild<QLineEdit*>(QStringLiteral("编辑框1"))->text());
            EXPECT_TRUE(dialog->isVisible());
        }
        Answer(dialog, QStringLiteral("s3cret"));
    });
    AppState state;
    std::unique_ptr<MainWindow> window = StartUp(state);

    EXPECT_TRUE(mainWindowShownFirst);
    EXPECT_FALSE(pagesBeforeUnlock);
    EXPECT_EQ(leftAfterRefusal, std::vector<QString>(5));
    ASSERT_EQ(MsgBox::Answered().size(), 5u);
    for (const MsgBox::Shown& box : MsgBox::Answered()) {
        EXPECT_EQ(box.text, QStringLiteral("密码错误"));
        EXPECT_EQ(box.caption, QStringLiteral("错误"));
        EXPECT_EQ(box.icon, MsgBox::Icon::Error);
    }
    EXPECT_TRUE(state.unlocked);
    ASSERT_NE(window->findChild<ServerPage*>(), nullptr);
    EXPECT_EQ(state.servers.Count(), 2u);
    EXPECT_TRUE(window->findChild<QRadioButton*>(QStringLiteral("单选框800600"))->isChecked());

    // A start and a save keep every entry, option and the password byte for byte.
    window->close();
    EXPECT_EQ(ReadWholeFile("ms.ini"), before);
}

TEST_F(StartUpTest, ClosingTheDialogOtherwiseLeavesTheProgramLockedAndTheFileUntouched) {
    WriteSettings(kStored);
    const Bytes before = ReadWholeFile("ms.ini");

    WhenModal([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    AppState state;
    std::unique_ptr<MainWindow> window = StartUp(state);
    EXPECT_FALSE(state.unlocked);
    EXPECT_EQ(window->findChild<ServerPage*>(), nullptr);
    EXPECT_EQ(window->findChild<NetToolsPage*>(), nullptr);
    EXPECT_TRUE(window->isVisible());

    // The server list was never loaded: saving now would wipe it.
    window->close();
    EXPECT_EQ(ReadWholeFile("ms.ini"), before);
}

TEST_F(StartUpTest, CancelEndsTheProgramAtOnceWithExitCodeZero) {
    WriteSettings(kStored);
    const Bytes before = ReadWholeFile("ms.ini");
    // The death test's child process starts afresh; it finds the directory through the environment.
    ::setenv("TOLVAR_TEST_DIR", dir_.Path().c_str(), 1);
    EXPECT_EXIT(
        {
            if (::chdir(std::getenv("TOLVAR_TEST_DIR")) != 0) {
                std::_Exit(3);
            }
            WhenModal([](QWidget* dialog) {
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("按钮2")), Qt::LeftButton);
            });
            AppState state;
            StartUp(state);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadWholeFile(dir_.File("ms.ini")), before);
}

TEST_F(StartUpTest, TabPagesShowOnlyTheirOwnEmbeddedPage) {
    ArmModalGuard();
    AppState state;
    std::unique_ptr<MainWindow> window = StartUp(state);
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
    auto* serverPage = window->findChild<ServerPage*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->findChild<NetToolsPage*>() != nullptr; }));
    auto* netToolsPage = window->findChild<NetToolsPage*>();

    const std::vector<std::pair<bool, bool>> expected{{true, false}, {false, true}, {false, false}, {false, false}};
    for (int page : {1, 2, 3, 0, 3, 1}) {
        tabs->setCurrentIndex(page);
        EXPECT_EQ(serverPage->isVisible(), expected[page].first) << page;
        EXPECT_EQ(netToolsPage->isVisible(), expected[page].second) << page;
    }
}

TEST_F(StartUpTest, AProgramDirectoryThatCannotBeWrittenStillGuardsItsListWithItsPassword) {
    WriteSettings(kStored);
    const Bytes before = ReadWholeFile("ms.ini");
    TempDir own;

    bool asked = false;
    WhenModal([&](QWidget* dialog) {
        asked = true;
        Answer(dialog, QStringLiteral("s3cret"));
    });
    AppState state;
    state.directories = {dir_.Path(), own.Path()};
    std::unique_ptr<MainWindow> window = StartUp(state);
    EXPECT_TRUE(asked);
    EXPECT_EQ(state.servers.Count(), 2u);
    // The bookmarks, too, are kept in the user's own directory.
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(own.File("websc.edb")); }, 5000));
    EXPECT_FALSE(std::filesystem::exists("websc.edb"));

    // The save goes to the user's own directory, which is read first from then on.
    window->close();
    EXPECT_EQ(ReadWholeFile(own.File("ms.ini")), before);
    EXPECT_EQ(ReadWholeFile("ms.ini"), before);
    EXPECT_EQ(state.directories.ReadPath("ms.ini"), own.File("ms.ini"));
}

TEST_F(StartUpTest, ASettingsFileThatCouldNotBeReadIsKeptAndTheUserToldOnceAtClose) {
    ASSERT_EQ(::mkfifo("ms.ini", 0600), 0);
    ArmModalGuard();
    AppState state;
    std::unique_ptr<MainWindow> window = StartUp(state);
    EXPECT_TRUE(state.unlocked);
    EXPECT_TRUE(MsgBox::Answered().empty()) << "nothing is said before anything was lost";
    DisarmModalGuard();

    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    window->close();
    window->close();
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("ms.ini")));
    // The system's reason comes with it, and what the program was doing when it met it.
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(
        QString::fromStdString(std::make_error_code(std::errc::invalid_argument).message())))
        << MsgBox::Answered()[0].text.toStdString();
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("reading ")));
    struct stat info {};
    ASSERT_EQ(::lstat("ms.ini", &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "replaced by a save";
}

TEST_F(StartUpTest, WithNowhereToSaveTheUserIsToldAtStartAndNothingIsWritten) {
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    AppState state;
    state.directories = {dir_.Path(), ""};
    std::unique_ptr<MainWindow> window = StartUp(state);
    ASSERT_EQ(MsgBox::Answered().size(), 1u);

    // Neither the default bookmark file nor an added bookmark goes into the program's directory.
    QSignalSpy loaded(window->findChild<BookmarkList*>(), &BookmarkList::Loaded);
    ASSERT_TRUE(loaded.wait(10000));
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("按钮1")), Qt::LeftButton);
    EXPECT_EQ(MsgBox::Answered().size(), 2u);

    ArmModalGuard();
    window->close();
    EXPECT_FALSE(std::filesystem::exists("ms.ini"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 0);
}

} // namespace
