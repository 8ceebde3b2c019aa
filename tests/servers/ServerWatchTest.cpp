#include "servers/ServerWatch.h"
#include "LoopbackPeers.h"
#include "runtime/DetachedThread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

// Takes the workers' reports on the test's thread, as the page takes them on the GUI thread.
class Owner {
public:
    ServerWatch::Deliver Handler() {
        return [this](WatchReport report) {
            std::lock_guard lock(mutex_);
            reports_.push_back(std::move(report));
            arrived_.notify_all();
        };
    }

    std::optional<WatchReport> Next(std::chrono::milliseconds patience) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, patience, [this] { return !reports_.empty(); })) {
            return std::nullopt;
        }
        WatchReport report = std::move(reports_.front());
        reports_.pop_front();
        return report;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<WatchReport> reports_;
};

// Workers that are handed over and never run.
class Held {
public:
    ProbeSettings Settings() {
        ProbeSettings settings;
        settings.startThread = [this](std::function<void()> body, std::size_t) {
            std::lock_guard lock(mutex_);
            bodies_.push_back(std::move(body));
            handed_.notify_all();
            return true;
        };
        return settings;
    }

    // Waits for the pass's starter thread to hand over `count` workers in all.
    std::size_t WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        handed_.wait_for(lock, 30s, [&] { return bodies_.size() >= count; });
        return bodies_.size();
    }

    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return bodies_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable handed_;
    std::vector<std::function<void()>> bodies_;
};

ServerEntry At(const std::string& host, const std::string& port) {
    return {host, port, "Administrator", "", "", ServerStatus::Unknown};
}

TEST(ServerWatchTest, NoticesGoOnlyToEntriesThatWereOnlineAndANewAddressStartsAfresh) {
    ServerList list;
    const ServerList::Id id = list.Append({"127.0.0.1", "5000", "a", "", "", ServerStatus::Unknown});
    Held held;
    Owner owner;
    ServerWatch watch(list, held.Settings(), owner.Handler());
    ASSERT_EQ(watch.ProbeAll(), std::vector<ServerList::Id>{id});
    ASSERT_EQ(held.WaitFor(1), 1u);
    EXPECT_TRUE(watch.InFlight(id));
    EXPECT_FALSE(watch.HistoryOf(id));

    const WallClock::time_point start = WallClock::now();
    const auto at = [&](int minute) { return start + std::chrono::minutes{minute}; };
    const auto result = [&](ServerStatus status, int minute, const std::string& host = "127.0.0.1") {
        return WatchReport{id, host, "5000", true, true, status, 1234us, at(minute)};
    };
    const auto notice = [&](const WatchReport& report) {
        const std::optional<WatchChange> change = watch.Apply(report);
        EXPECT_TRUE(change);
        EXPECT_EQ(change ? change->status : ServerStatus::Unknown, report.status);
        return change ? change->notice : WatchNotice::None;
    };

    // Offline from the start, then up for the first time: nothing to tell, it was never online.
    EXPECT_EQ(notice(result(ServerStatus::Offline, 0)), WatchNotice::None);
    EXPECT_FALSE(watch.InFlight(id));
    EXPECT_EQ(watch.HistoryOf(id)->unreachableSince, at(0));
    EXPECT_EQ(notice(result(ServerStatus::Online, 1)), WatchNotice::None);
    EXPECT_EQ(watch.HistoryOf(id)->connectTime, 1234us);
    // Down once, told once; the outage counts from its first probe.
    EXPECT_EQ(notice(result(ServerStatus::Offline, 2)), WatchNotice::WentOffline);
    EXPECT_EQ(notice(result(ServerStatus::Offline, 3)), WatchNotice::None);
    EXPECT_EQ(watch.HistoryOf(id)->unreachableSince, at(2));
    EXPECT_EQ(watch.HistoryOf(id)->lastProbe, at(3));
    EXPECT_EQ(notice(result(ServerStatus::Online, 4)), WatchNotice::CameBack);
    EXPECT_EQ(notice(result(ServerStatus::Online, 5)), WatchNotice::None);

    // Edited while a probe of the old address is out: its result is not shown, and the new address is probed.
    watch.ProbeAll();
    ASSERT_TRUE(list.Replace(1, {"127.0.0.2", "5000", "a", "", "", ServerStatus::Unknown}));
    EXPECT_FALSE(watch.HistoryOf(id)) << "what the old address did says nothing of the new one";
    WatchReport stale = result(ServerStatus::Offline, 6);
    stale.written = false;
    EXPECT_FALSE(watch.Apply(stale));
    EXPECT_TRUE(watch.InFlight(id));
    EXPECT_EQ(held.WaitFor(3), 3u);
    // The new machine was never online, so its being offline is no notice.
    EXPECT_EQ(notice(result(ServerStatus::Offline, 7, "127.0.0.2")), WatchNotice::None);

    // A deleted entry's late result is dropped and starts nothing.
    watch.ProbeAll();
    ASSERT_EQ(held.WaitFor(4), 4u);
    ASSERT_TRUE(list.Remove(1));
    WatchReport gone = result(ServerStatus::Online, 8, "127.0.0.2");
    gone.written = false;
    EXPECT_FALSE(watch.Apply(gone));
    EXPECT_TRUE(watch.ProbeAll().empty());
    // Nothing is there to wait for: a worker the starter thread wrongly handed over would come within this time.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(held.Count(), 4u);
}

TEST(ServerWatchTest, AHostThatNeverAnswersHoldsOneWorkerHoweverOftenItIsAsked) {
    const SilentPort silent;
    // Nobody accepts, so every probe's connection stays queued: room for far more than the test makes.
    const Listener listener(4096);
    ServerList list;
    const ServerList::Id quiet = list.Append({"127.0.0.1", silent.PortText(), "", "", "", ServerStatus::Unknown});
    const ServerList::Id up = list.Append({"127.0.0.1", listener.PortText(), "", "", "", ServerStatus::Unknown});

    std::atomic<int> live = 0;
    std::atomic<int> mostLive = 0;
    ProbeSettings settings;
    settings.bound = 400ms;
    settings.startThread = [&](std::function<void()> body, std::size_t stackSize) {
        return StartDetachedThread(
            [&live, &mostLive, body = std::move(body)] {
                const int now = ++live;
                for (int most = mostLive; now > most && !mostLive.compare_exchange_weak(most, now);) {
                }
                body();
                --live;
            },
            stackSize);
    };
    Owner owner;
    ServerWatch watch(list, settings, owner.Handler());
    // Asked again and again until the silent host has given three results; between two of them its bound passed
    // at least once, and the other entry was answered time after time.
    std::map<ServerList::Id, int> results;
    std::vector<Clock::time_point> quietAt;
    std::vector<int> upAt;
    const Clock::time_point giveUp = Clock::now() + 30s;
    while (results[quiet] < 3 && Clock::now() < giveUp) {
        watch.ProbeAll();
        while (const std::optional<WatchReport> report = owner.Next(10ms)) {
            ++results[report->id];
            if (report->id == quiet) {
                quietAt.push_back(Clock::now());
                upAt.push_back(results[up]);
            }
            watch.Apply(*report);
        }
    }
    // Let the last workers end before the counters go.
    for (int wait = 0; wait < 3000 && live > 0; ++wait) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_LE(mostLive, 2) << "a second probe was started for an entry whose probe was still out";
    ASSERT_EQ(results[quiet], 3);
    for (std::size_t i = 1; i < quietAt.size(); ++i) {
        // Its next probe starts only after a result has been taken, and lasts the bound.
        EXPECT_GE(quietAt[i] - quietAt[i - 1], settings.bound) << "the silent host was asked again while still out";
        EXPECT_GE(upAt[i] - upAt[i - 1], 2) << "the silent host held up the other entry";
    }
    EXPECT_EQ(list.EntryAt(1)->status, ServerStatus::Offline);
    EXPECT_EQ(list.EntryAt(2)->status, ServerStatus::Online);
}

TEST(ServerWatchTest, ASilentHostHoldsOnlyItsOwnRowUntilTheBound) {
    const Listener listener;
    const SilentPort silent;
    const ClosedPort closed;
    ServerList list;
    const ServerList::Id up = list.Append(At("127.0.0.1", listener.PortText()));
    const ServerList::Id quiet = list.Append(At("127.0.0.1", silent.PortText()));
    const ServerList::Id down = list.Append(At("127.0.0.1", closed.PortText()));

    Owner owner;
    ProbeSettings settings;
    settings.bound = 1500ms;
    ServerWatch watch(list, settings, owner.Handler());
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(watch.ProbeAll().size(), 3u);

    std::map<ServerList::Id, ServerStatus> first;
    for (int i = 0; i < 2; ++i) {
        const std::optional<WatchReport> report = owner.Next(10s);
        ASSERT_TRUE(report);
        first[report->id] = report->status;
    }
    EXPECT_EQ(first,
              (std::map<ServerList::Id, ServerStatus>{{up, ServerStatus::Online}, {down, ServerStatus::Offline}}));
    EXPECT_EQ(list.EntryAt(2)->status, ServerStatus::Unknown);
    EXPECT_EQ(list.EntryAt(1)->status, ServerStatus::Online);

    const std::optional<WatchReport> last = owner.Next(10s);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->id, quiet);
    EXPECT_EQ(last->status, ServerStatus::Offline);
    EXPECT_EQ(list.EntryAt(2)->status, ServerStatus::Offline);
    EXPECT_GE(Clock::now() - start, 1500ms) << "the silent host was given up before its bound";
}

TEST(ServerWatchTest, AnEmptyListStartsNothingAndAWorkerThatCannotStartLeavesItsEntryFreeAndUnknown) {
    std::atomic<int> starts = 0;
    ProbeSettings settings;
    settings.startThread = [&](std::function<void()> body, std::size_t stackSize) {
        return ++starts != 2 && StartDetachedThread(std::move(body), stackSize);
    };
    ServerList list;
    Owner owner;
    ServerWatch watch(list, settings, owner.Handler());
    EXPECT_TRUE(watch.ProbeAll().empty());
    EXPECT_EQ(starts, 0);

    const ClosedPort closed;
    for (int i = 0; i < 3; ++i) {
        list.Append(At("127.0.0.1", closed.PortText()));
    }
    const std::vector<ServerList::Id> ids = watch.ProbeAll();
    ASSERT_EQ(ids.size(), 3u);
    std::map<ServerList::Id, WatchReport> reports;
    for (int i = 0; i < 3; ++i) {
        const std::optional<WatchReport> report = owner.Next(10s);
        ASSERT_TRUE(report);
        reports[report->id] = *report;
    }
    EXPECT_EQ(starts, 3);
    EXPECT_TRUE(reports[ids[0]].probed && reports[ids[2]].probed);
    EXPECT_FALSE(reports[ids[1]].probed);
    EXPECT_FALSE(watch.Apply(reports[ids[1]]));
    EXPECT_FALSE(watch.InFlight(ids[1])) << "an entry whose worker never started stays marked as probed";
    EXPECT_EQ(list.EntryAt(1)->status, ServerStatus::Offline);
    EXPECT_EQ(list.EntryAt(2)->status, ServerStatus::Unknown);
    EXPECT_EQ(list.EntryAt(3)->status, ServerStatus::Offline);
    // It is free for the next probe; its worker's report is awaited, since the worker uses what this test holds.
    ASSERT_EQ(watch.Probe({ids[1]}), std::vector<ServerList::Id>{ids[1]});
    const std::optional<WatchReport> again = owner.Next(10s);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->probed);
}

TEST(ServerWatchTest, TwoThousandEntriesAllGetAWorker) {
    const Listener listener(4096);
    const ClosedPort closed;
    ServerList list;
    for (int i = 0; i < 2000; ++i) {
        list.Append(At("127.0.0.1", i % 2 ? listener.PortText() : closed.PortText()));
    }
    Owner owner;
    ServerWatch watch(list, ProbeSettings{}, owner.Handler());
    ASSERT_EQ(watch.ProbeAll().size(), 2000u);
    const Clock::time_point end = Clock::now() + 60s;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(owner.Next(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now())))
            << i << " results came";
    }
    const std::vector<ServerEntry> entries = list.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].status, i % 2 ? ServerStatus::Online : ServerStatus::Offline) << i;
    }
}

TEST(ServerWatchTest, WorkersStillWaitingWhenTheListGoesTouchNothingOfIt) {
    const SilentPort silent;
    Owner owner;
    auto list = std::make_unique<ServerList>();
    list->Append(At("127.0.0.1", silent.PortText()));
    ProbeSettings settings;
    settings.bound = 300ms;
    auto watch = std::make_unique<ServerWatch>(*list, settings, owner.Handler());
    ASSERT_EQ(watch->ProbeAll().size(), 1u);
    watch.reset();
    list.reset();
    // The worker gives up after its bound and finds the list gone (AddressSanitizer would catch a touch).
    const std::optional<WatchReport> report = owner.Next(10s);
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->probed);
    EXPECT_FALSE(report->written) << "a result was written to a list that is gone";
}

TEST(ServerWatchTest, TheProcessEndsWithoutWaitingForAProbeThatIsOut) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const SilentPort silent;
    const Clock::time_point start = Clock::now();
    EXPECT_EXIT(
        {
            ServerList list;
            list.Append({"127.0.0.1", silent.PortText(), "", "", "", ServerStatus::Unknown});
            std::mutex mutex;
            std::condition_variable begun;
            bool running = false;
            ProbeSettings settings;
            settings.startThread = [&](std::function<void()> body, std::size_t stackSize) {
                return StartDetachedThread(
                    [&, body = std::move(body)] {
                        {
                            const std::lock_guard lock(mutex);
                            running = true;
                        }
                        begun.notify_all();
                        body();
                    },
                    stackSize);
            };
            ServerWatch watch(list, settings, [](WatchReport) {});
            watch.ProbeAll();
            std::unique_lock lock(mutex);
            begun.wait_for(lock, 30s, [&] { return running; });
            std::exit(running ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_LT(Clock::now() - start, 10s) << "exit waited for the connect bound";
}

} // namespace
