#include "Resolver.h"

#include "runtime/TcpConnect.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <utility>

Mailbox::Mailbox()
    : eventFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Mailbox::~Mailbox() {
    close(eventFd_);
}

void Mailbox::Post(Result result) {
    {
        const std::lock_guard lock(mutex_);
        results_.push_back(result);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(eventFd_, &one, sizeof one);
}

std::vector<Mailbox::Result> Mailbox::Take() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(eventFd_, &count, sizeof count);
    const std::lock_guard lock(mutex_);
    return std::exchange(results_, {});
}

struct Resolver::Pool {
    struct Lookup {
        std::string name;
        std::shared_ptr<Mailbox> mailbox;
        std::uint64_t token;
        std::chrono::steady_clock::time_point due;
    };

    void Serve() {
        std::unique_lock lock(mutex);
        while (true) {
            ready.wait(lock, [this] { return stopping || !waiting.empty(); });
            if (stopping) {
                return;
            }
            Lookup lookup = std::move(waiting.front());
            waiting.pop_front();
            lock.unlock();
            // One whose caller has already answered without it is not worth a thread's time.
            if (std::chrono::steady_clock::now() < lookup.due) {
                lookup.mailbox->Post({lookup.token, AddressOf(lookup.name)});
            }
            lookup.mailbox.reset();
            lock.lock();
        }
    }

    static std::optional<std::uint32_t> AddressOf(const std::string& name) {
        for (const Tcp::Address& address : Tcp::Resolve(name)) {
            if (address.family == Tcp::Address::Family::Ipv4) {
                std::uint32_t networkOrder = 0;
                std::memcpy(&networkOrder, address.bytes.data(), sizeof networkOrder);
                return ntohl(networkOrder);
            }
        }
        return std::nullopt;
    }

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Lookup> waiting;
    std::size_t limit = 0;
    bool stopping = false;
};

Resolver::Resolver(unsigned threads, unsigned queued)
    : pool_(std::make_shared<Pool>()) {
    pool_->limit = queued;
    // The threads take no signals: the stop signals belong to the thread that waits for them.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    for (unsigned i = 0; i < threads; ++i) {
        std::thread([pool = pool_] { pool->Serve(); }).detach();
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

Resolver::~Resolver() {
    const std::lock_guard lock(pool_->mutex);
    pool_->stopping = true;
    pool_->ready.notify_all();
}

bool Resolver::Start(const std::string& name, std::shared_ptr<Mailbox> mailbox, std::uint64_t token,
                     std::chrono::steady_clock::time_point due) {
    const std::lock_guard lock(pool_->mutex);
    if (pool_->waiting.size() >= pool_->limit) {
        return false;
    }
    pool_->waiting.push_back({name, std::move(mailbox), token, due});
    pool_->ready.notify_one();
    return true;
}
