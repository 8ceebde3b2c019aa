// Two windows over one ms.ini, as two instances of the program or two colleagues on a shared folder have them.
#include "app/SettingsSync.h"

#include "runtime/MsgBox.h"
#include "runtime/WatchedFile.h"
#include "servers/ServerPage.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"
#include "support/ModalDialogs.h"
#include "support/TempDir.h"

#include <QDialog>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

// Milliseconds of `count` poll intervals.
int PollsOf(int count) {
    return count * static_cast<int>(std::chrono::milliseconds(WatchedFile::kPollInterval).count());
}

ServerEntry Entry(const std::string& host, const std::string& note = "") {
    return {host, "3389", "admin", "pw", note, ServerStatus::Unknown};
}

// One window: its list, its password and its page, saving through its own sync.
struct Window {
    Window(const std::string& path, std::chrono::milliseconds retry = SettingsSync::kRetryInterval)
        : Window(path, StampOf(path), LoadSettings(path), retry) {}
    // A window over what was read of `path` when it had the stamp `loaded`.
    Window(const std::string& path, const FileStamp& loaded, const Bytes& read,
           std::chrono::milliseconds retry = SettingsSync::kRetryInterval)
        : page(servers, read, password, nullptr, {.startThread = [](auto, auto) { return false; }})
        , sync(new SettingsSync(path, &page, loaded, retry)) {}

    QTreeWidget* List() { return page.findChild<QTreeWidget*>(QStringLiteral("超级列表框1")); }
    QStringList Hosts() {
        QStringList hosts;
        for (int row = 0; row < List()->topLevelItemCount(); ++row) {
            hosts.append(List()->topLevelItem(row)->text(0));
        }
        return hosts;
    }
    void Change() { Q_EMIT page.SettingsChanged(); }

    ServerList servers;
    std::string password;
    ServerPage page;
    SettingsSync* sync;
};

class SettingsSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Only the poll, as on a network share where no file notices come.
        WatchedFile::SetNoticesEnabled(false);
        ArmModalGuard();
        WriteTestFile(
            path_, Rc4Crypt(BytesFromText("127.0.0.1|3389|admin|pw|\r\n#Start:1\r\n#LoadinPass:<>\r\n"), kSettingsKey));
    }
    void TearDown() override {
        DisarmModalGuard();
        MsgBox::ClearAnswered();
        WatchedFile::SetNoticesEnabled(true);
    }
    // Another window's change shows from the poll alone, a second after it was saved on a machine at rest.
    static bool Soon(const std::function<bool()>& done) { return QTest::qWaitFor(done, 15000); }

    TempDir dir_;
    std::string path_ = dir_.File("ms.ini");
};

TEST_F(SettingsSyncTest, WhatOneWindowChangesTheOtherShowsWithoutAClickAndKeepsItsSelection) {
    Window a(path_);
    Window b(path_);
    b.List()->setCurrentItem(b.List()->topLevelItem(0));

    a.servers.Append(Entry("127.0.0.2"));
    a.Change();
    EXPECT_TRUE(Soon([&] { return b.Hosts() == QStringList({u"127.0.0.1"_s, u"127.0.0.2"_s}); }));
    EXPECT_EQ(b.List()->currentItem(), b.List()->topLevelItem(0));
    // The other's option change arrives too, and is not taken for an edit of this window's own.
    a.page.findChild<QRadioButton*>(QStringLiteral("单选框800600"))->setChecked(true);
    EXPECT_TRUE(Soon([&] { return !b.page.Options().fullScreen; }));

    b.servers.Remove(1);
    b.Change();
    EXPECT_TRUE(Soon([&] { return a.Hosts() == QStringList({u"127.0.0.2"_s}); }));
    EXPECT_TRUE(MsgBox::Answered().empty());
}

// The window is built after the file was read; a save another window makes in between must still come in.
TEST_F(SettingsSyncTest, ASaveBetweenAWindowsReadAndItsWatchStillShows) {
    const FileStamp loaded = StampOf(path_);
    const Bytes read = LoadSettings(path_);
    {
        Window other(path_);
        other.servers.Append(Entry("127.0.0.2"));
        other.Change();
    }
    Window late(path_, loaded, read);
    EXPECT_TRUE(Soon([&] { return late.Hosts() == QStringList({u"127.0.0.1"_s, u"127.0.0.2"_s}); }));
}

TEST_F(SettingsSyncTest, AWindowListsEveryEntryTwoOtherProcessesAddedAtFullSpeed) {
    Window window(path_);
    // Shown, since a long list gets its rows past the first screen once it has been drawn.
    window.page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window.page));
    pid_t adders[2];
    for (int which = 0; which < 2; ++which) {
        adders[which] = ::fork();
        if (adders[which] == 0) {
            // The other program's core alone, adding and saving as its window would.
            SharedSettingsFile file(path_, ContentOf(LoadSettings(path_)));
            SettingsContent mine = file.Base();
            for (int n = 0; n < 200; ++n) {
                mine.servers.push_back(Entry("127.0." + std::to_string(which + 1) + "." + std::to_string(n)));
                SharedSettingsFile::Saved saved;
                do {
                    saved = file.Save(mine, std::chrono::milliseconds(50));
                } while (!saved.outcome && saved.outcome.Reason() == std::errc::device_or_resource_busy);
                if (!saved.outcome) {
                    ::_exit(1);
                }
                mine = saved.merged.content;
            }
            ::_exit(0);
        }
    }
    // The window keeps its event loop going while the others save; it waits for them without blocking.
    for (const pid_t adder : adders) {
        int status = -1;
        EXPECT_TRUE(Soon([&] { return ::waitpid(adder, &status, WNOHANG) == adder; }));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(ContentOf(LoadSettings(path_)).servers.size(), 401u);
    EXPECT_TRUE(Soon([&] { return window.servers.Count() == 401 && window.Hosts().size() == 401; }))
        << window.servers.Count() << " " << window.Hosts().size();
}

TEST_F(SettingsSyncTest, WhatCameInWhileADialogWasOpenDoesNotUndoWhatTheDialogSaved) {
    DisarmModalGuard();
    Window a(path_);
    Window b(path_);
    WhenModal([&](QWidget* dialog) {
        b.servers.Remove(1);
        b.Change();
        // A's poll reads B's delete while the dialog is open, as it does a poll interval after the save; the
        // dialog's own change is saved after it. Nothing shows that the poll has read the file, so the test waits.
        QTest::qWait(PollsOf(1) + 600);
        a.servers.Append(Entry("127.0.0.5"));
        a.Change();
        static_cast<QDialog*>(dialog)->accept();
    });
    QDialog dialog;
    dialog.exec();
    const auto settled = [&] { return a.Hosts() == QStringList({u"127.0.0.5"_s}) && b.Hosts() == a.Hosts(); };
    EXPECT_TRUE(Soon(settled)) << a.Hosts().join(u' ').toStdString() << " / " << b.Hosts().join(u' ').toStdString();
    // What was read during the dialog would be delivered within a few polls of its closing; it must change nothing.
    QTest::qWait(PollsOf(3));
    EXPECT_EQ(a.Hosts(), QStringList({u"127.0.0.5"_s}));
    EXPECT_EQ(b.Hosts(), QStringList({u"127.0.0.5"_s}));
}

TEST_F(SettingsSyncTest, OneEntryEditedDifferentlyInBothIsKeptTwiceAndSaidOnce) {
    Window a(path_);
    Window b(path_);
    a.servers.Replace(1, Entry("127.0.0.1", "from a"));
    b.servers.Replace(1, Entry("127.0.0.1", "from b"));
    a.Change();
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    // B saves before its poll could have shown it A's edit.
    b.Change();
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("127.0.0.1:3389")));
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("两个版本都已保留")));
    EXPECT_EQ(b.servers.Count(), 2u);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    EXPECT_TRUE(Soon([&] { return a.servers.Count() == 2; }));
    const SettingsContent saved = ContentOf(LoadSettings(path_));
    ASSERT_EQ(saved.servers.size(), 2u);
    EXPECT_NE(saved.servers[0].note, saved.servers[1].note);
}

TEST_F(SettingsSyncTest, AFailedSaveIsSaidOnceWithItsReasonAndAgainWhenASaveWorksAgain) {
    TempDir shared;
    const std::string folder = shared.File("share");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/ms.ini";
    std::filesystem::copy_file(path_, path);
    Window a(path, std::chrono::milliseconds(200));

    // The shared folder goes away under the window.
    std::filesystem::remove_all(folder);
    a.servers.Append(Entry("127.0.0.3"));
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    a.Change();
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("无法保存设置文件 ms.ini")));
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("No such file or directory")));
    // Later changes and the retries fail without another word, and the window keeps every edit.
    a.servers.Append(Entry("127.0.0.4"));
    a.Change();
    // Retries run every 200 ms; those in this time must fail without a word.
    QTest::qWait(500);
    EXPECT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_EQ(a.servers.Count(), 3u);

    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(Soon([&] { return MsgBox::Answered().size() == 2; }));
    EXPECT_TRUE(MsgBox::Answered()[1].text.contains(QStringLiteral("已重新保存")));
    EXPECT_EQ(ContentOf(LoadSettings(path)).servers.size(), 3u);
}

} // namespace
