#pragma once

#include <atomic>
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

// Host names to IPv4 addresses without holding the caller: each lookup runs in the C library's own lookup threads
// (getaddrinfo_a), and its result goes to a mailbox. At most `limit` lookups are under way at once, so a resolver
// that never answers ties up a bounded number of threads; the caller keeps its own deadline, as a lookup that has
// begun cannot be called back.
class Resolver {
public:
    explicit Resolver(unsigned limit);

    // False, and nothing is started, when `limit` lookups are already under way.
    bool Start(const std::string& name, std::shared_ptr<Mailbox> mailbox, std::uint64_t token);

private:
    struct Lookup;
    static void Finished(Lookup* lookup);

    const unsigned limit_;
    // Shared with the lookups, which may end after the resolver is gone.
    std::shared_ptr<std::atomic<unsigned>> underWay_;
};
