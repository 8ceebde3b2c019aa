#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

class Locator;
class Resolver;

// The lookup page on one listening socket, served by a few threads, each with its own epoll loop over the
// connections it accepted. Connections stay open between requests and may pipeline them; answers go out in the
// order the requests came.
//
// Every connection is always under one deadline: a request head must arrive whole within `headDeadline` of the
// connection's arrival, or of its first byte on a connection kept open (then 408); a connection kept open with
// nothing sent is closed after `idleLimit`; an answer not taken by the client within `headDeadline` is dropped
// with its connection; a name not resolved within `resolveDeadline` is answered as found nowhere. A head that can
// be no HTTP request is answered 400 at once. One address may hold `perAddress` connections at once, whether they
// wait for their first request or idle after one (more get 503), and when `waiting` connections wait for a head,
// the one that has waited longest makes room. So neither idle nor trickling clients, nor one address, keep a new
// client out.
class Server {
public:
    struct Limits {
        std::chrono::milliseconds headDeadline{5000};
        std::chrono::milliseconds idleLimit{4000};
        std::chrono::milliseconds resolveDeadline{2000};
        unsigned perAddress = 64;
        unsigned waiting = 1000;
        std::size_t headBytes = 8192;
    };

    // `listener` is a bound, listening, non-blocking socket; the server owns it from now on. Without a resolver
    // names are not looked up.
    Server(int listener, unsigned threads, Limits limits, const Locator& locator, Resolver* resolver);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Ends the threads once they have closed their connections.
    void Stop();

private:
    class Worker;
    friend class Worker;

    // Counts one more connection from `address`; false, counting nothing, when it has its share.
    bool Admit(std::uint32_t address);
    void Leave(std::uint32_t address);

    int listener_;
    Limits limits_;
    const Locator& locator_;
    Resolver* resolver_;
    std::atomic<bool> stopping_{false};
    std::mutex addressesMutex_;
    std::unordered_map<std::uint32_t, unsigned> addresses_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::thread> threads_;
};
