#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <netinet/in.h>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

// How far the bytes received so far make a request head.
enum class HeadState {
    Incomplete, // nothing wrong yet, the blank line that ends the head has not come
    Whole,      // a request line of HTTP shape and the header lines up to the blank line
    Malformed,  // the request line is not "METHOD SP TARGET SP HTTP/d.d", or its target decodes to a zero byte
    TooLarge,   // no end of head within the limit
};
HeadState ExamineHead(std::string_view received, std::size_t limit);

// Holds each accepted connection until its request head has arrived whole, then hands it over. A connection is
// cut, with 408, when its head is not whole within the deadline, whatever it trickles meanwhile; a head that can
// be no HTTP request is answered 400 at once; an address past its limit of held connections is turned away with
// 503, and when the gate is full the connection held longest makes room. The HTTP daemon so never waits on a slow
// head, and neither one address nor a flood of idle connections keeps a new client out.
class RequestGate {
public:
    struct Limits {
        std::chrono::milliseconds deadline{5000};
        unsigned perAddress = 64;
        unsigned held = 1000;
        std::size_t headBytes = 8192;
    };
    // Takes a connection whose head has arrived, and the socket with it, for good.
    using HandOver = std::function<void(int socket, const sockaddr_in& peer)>;

    // `listener` is a bound, listening, non-blocking socket; the gate owns it from now on.
    RequestGate(int listener, Limits limits, HandOver handOver);
    ~RequestGate();
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;

    // Serves until Stop() is called from another thread.
    void Run();
    void Stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Held {
        sockaddr_in peer;
        std::list<std::pair<Clock::time_point, int>>::iterator queued;
    };

    void Accept();
    void Examine(int socket, bool peerClosed);
    void Release(int socket);
    void Refuse(int socket, std::string_view answer);
    void CutExpired();
    void WatchListener(bool watch);

    int listener_;
    int epoll_ = -1;
    int wake_ = -1;
    Limits limits_;
    HandOver handOver_;
    std::unordered_map<int, Held> held_;
    // Deadlines in the order connections came, which is the order they fall due.
    std::list<std::pair<Clock::time_point, int>> deadlines_;
    std::unordered_map<std::uint32_t, unsigned> perAddress_;
    bool listening_ = true;
    // When accepting failed for want of descriptors: the time to try again.
    std::optional<Clock::time_point> acceptAgain_;
    std::vector<char> peeked_;
};
