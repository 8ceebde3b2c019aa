#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Where the results of name lookups are left for one thread: a queue and an eventfd that turns readable when the
// queue has something. It outlives its thread for as long as lookups that will end in it are under way.
class Mailbox {
public:
    struct Result {
        std::uint64_t token;
        std::optional<std::uint32_t> address;
    };

    Mailbox();
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    int Descriptor() const { return eventFd_; }
    void Post(Result result);
    // Everything posted so far; clears the eventfd.
    std::vector<Result> Take();

private:
    int eventFd_;
    std::mutex mutex_;
    std::vector<Result> results_;
};

// Host names to IPv4 addresses without holding the caller: a few threads of its own ask the system resolver
// through the runtime's lookup (getaddrinfo, so the hosts file and the configured DNS servers count as for any
// program) and leave each result in the mailbox the lookup names. Lookups wait in a queue of bounded length; a
// resolver that never answers so ties up no more than the pool's threads, and the caller keeps its own deadline,
// since a lookup that has begun cannot be called back. The pool is the program's own rather than the C library's
// getaddrinfo_a, whose threads are hidden from the thread checker the tests run under.
class Resolver {
public:
    Resolver(unsigned threads, unsigned queued);
    // The threads go as soon as their lookups end; those stuck on a silent server do not hold up the caller.
    ~Resolver();
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    // False, and nothing is queued, when `queued` lookups already wait. A lookup not begun by `due` is dropped.
    bool Start(const std::string& name, std::shared_ptr<Mailbox> mailbox, std::uint64_t token,
               std::chrono::steady_clock::time_point due);

private:
    struct Pool;
    std::shared_ptr<Pool> pool_;
};
