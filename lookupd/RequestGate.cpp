#include "RequestGate.h"

#include "Log.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

bool IsTokenByte(unsigned char byte) {
    return std::isalnum(byte) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(byte)) != std::string_view::npos;
}

std::string Answer(std::string_view status, std::string_view text) {
    std::string answer = "HTTP/1.1 ";
    answer.append(status).append("\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: ");
    answer.append(std::to_string(text.size())).append("\r\nConnection: close\r\n\r\n").append(text);
    return answer;
}

const std::string kMalformed = Answer("400 Bad Request", "malformed request\n");
const std::string kTooLarge = Answer("431 Request Header Fields Too Large", "request head too large\n");
const std::string kTooSlow = Answer("408 Request Timeout", "request head not received in time\n");
const std::string kTooMany = Answer("503 Service Unavailable", "too many connections from this address\n");
const std::string kBusy = Answer("503 Service Unavailable", "too many connections waiting\n");

std::string AddressText(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return text;
}

} // namespace

HeadState ExamineHead(std::string_view received, std::size_t limit) {
    const std::size_t size = received.size();
    const HeadState more = size >= limit ? HeadState::TooLarge : HeadState::Incomplete;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(received[i]); };
    std::size_t pos = 0;
    // Blank lines before the request line are tolerated, as HTTP asks of servers.
    while (pos < size && (at(pos) == '\r' || at(pos) == '\n')) {
        ++pos;
    }
    const std::size_t method = pos;
    while (pos < size && IsTokenByte(at(pos))) {
        ++pos;
    }
    if (pos == size) {
        return more;
    }
    if (pos == method || at(pos) != ' ') {
        return HeadState::Malformed;
    }
    const std::size_t target = ++pos;
    // Bytes past ASCII pass: clients send typed text unescaped.
    while (pos < size && at(pos) > 0x20 && at(pos) != 0x7f) {
        ++pos;
    }
    if (pos == size) {
        return more;
    }
    if (pos == target || at(pos) != ' ' ||
        received.substr(target, pos - target).find("%00") != std::string_view::npos) {
        return HeadState::Malformed;
    }
    ++pos;
    constexpr std::string_view kVersion = "HTTP/9.9";
    for (std::size_t i = 0; i < kVersion.size(); ++i, ++pos) {
        if (pos == size) {
            return more;
        }
        const bool fits = kVersion[i] == '9' ? std::isdigit(at(pos)) != 0 : at(pos) == kVersion[i];
        if (!fits) {
            return HeadState::Malformed;
        }
    }
    if (pos < size && at(pos) == '\r') {
        ++pos;
    }
    if (pos == size) {
        return more;
    }
    if (at(pos) != '\n') {
        return HeadState::Malformed;
    }
    // The head ends at the first empty line after the request line.
    const std::string_view rest = received.substr(pos);
    if (rest.find("\n\n") != std::string_view::npos || rest.find("\n\r\n") != std::string_view::npos) {
        return HeadState::Whole;
    }
    return more;
}

RequestGate::RequestGate(int listener, Limits limits, HandOver handOver)
    : listener_(listener)
    , limits_(limits)
    , handOver_(std::move(handOver))
    , peeked_(limits.headBytes) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);
    event.data.fd = wake_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
}

RequestGate::~RequestGate() {
    for (const auto& [socket, held] : held_) {
        close(socket);
    }
    close(listener_);
    close(wake_);
    close(epoll_);
}

void RequestGate::Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
}

void RequestGate::Run() {
    std::vector<epoll_event> events(256);
    while (true) {
        int timeout = -1;
        std::optional<Clock::time_point> due;
        if (!deadlines_.empty()) {
            due = deadlines_.front().first;
        }
        if (acceptAgain_ && (!due || *acceptAgain_ < *due)) {
            due = acceptAgain_;
        }
        if (due) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
        }
        const int ready = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
        if (ready < 0 && errno != EINTR) {
            Log::Line(std::string("waiting for connections failed: ") + std::strerror(errno));
            return;
        }
        for (int i = 0; i < ready; ++i) {
            const int socket = events[static_cast<std::size_t>(i)].data.fd;
            if (socket == wake_) {
                return;
            }
            if (socket == listener_) {
                Accept();
            } else {
                Examine(socket, (events[static_cast<std::size_t>(i)].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0);
            }
        }
        CutExpired();
        if (acceptAgain_ && *acceptAgain_ <= Clock::now()) {
            acceptAgain_.reset();
            WatchListener(true);
        }
    }
}

void RequestGate::Accept() {
    // A bounded batch, so that heads already waiting are looked at between batches of a flood.
    for (int batch = 0; batch < 64; ++batch) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int socket =
            accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Connections the daemon ends free descriptors without telling the gate, so it tries again soon.
                Log::Line(std::string("cannot accept connections for now: ") + std::strerror(errno));
                acceptAgain_ = Clock::now() + std::chrono::milliseconds(100);
                WatchListener(false);
            }
            return;
        }
        unsigned& fromAddress = perAddress_[peer.sin_addr.s_addr];
        if (fromAddress >= limits_.perAddress) {
            Log::Line(AddressText(peer) + " has " + std::to_string(fromAddress) +
                      " connections waiting; refusing another");
            // The answer is best effort and the connection goes at once, whatever the peer does.
            send(socket, kTooMany.data(), kTooMany.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            close(socket);
            continue;
        }
        ++fromAddress;
        if (held_.size() >= limits_.held) {
            // Full: the connection that has waited longest goes. A head that comes at once is handed over within
            // moments, so clients that send theirs are not the ones pushed out, however many addresses a flood
            // of idle connections comes from.
            const int oldest = deadlines_.front().second;
            Log::Line(std::to_string(held_.size()) + " connections waiting; closing the one from " +
                      AddressText(held_.at(oldest).peer) + " that has waited longest");
            Refuse(oldest, kBusy);
        }
        deadlines_.emplace_back(Clock::now() + limits_.deadline, socket);
        held_.emplace(socket, Held{peer, std::prev(deadlines_.end())});
        // Edge-triggered: the head is only peeked at, so the bytes stay readable until the daemon takes them, and
        // only new bytes should wake the gate.
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        event.data.fd = socket;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, socket, &event);
    }
}

void RequestGate::Examine(int socket, bool peerClosed) {
    const auto found = held_.find(socket);
    if (found == held_.end()) {
        return;
    }
    const ssize_t got = recv(socket, peeked_.data(), peeked_.size(), MSG_PEEK | MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR) && !peerClosed) {
        return;
    }
    if (got <= 0) {
        Release(socket);
        close(socket);
        return;
    }
    switch (ExamineHead(std::string_view(peeked_.data(), static_cast<std::size_t>(got)), limits_.headBytes)) {
    case HeadState::Incomplete:
        if (peerClosed) {
            // The request ended before its head did.
            Refuse(socket, kMalformed);
        }
        return;
    case HeadState::Malformed:
        Refuse(socket, kMalformed);
        return;
    case HeadState::TooLarge:
        Refuse(socket, kTooLarge);
        return;
    case HeadState::Whole:
        break;
    }
    const sockaddr_in peer = found->second.peer;
    Release(socket);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, socket, nullptr);
    handOver_(socket, peer);
}

void RequestGate::Release(int socket) {
    const auto found = held_.find(socket);
    const auto address = perAddress_.find(found->second.peer.sin_addr.s_addr);
    if (--address->second == 0) {
        perAddress_.erase(address);
    }
    deadlines_.erase(found->second.queued);
    held_.erase(found);
}

void RequestGate::Refuse(int socket, std::string_view answer) {
    Release(socket);
    // What the client sent is read first, so closing sends an orderly end after the answer and not a reset that
    // could discard the answer before the client reads it.
    char discard[4096];
    for (int round = 0; round < 16 && recv(socket, discard, sizeof discard, MSG_DONTWAIT) > 0; ++round) {
    }
    send(socket, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    close(socket);
}

void RequestGate::CutExpired() {
    const Clock::time_point now = Clock::now();
    while (!deadlines_.empty() && deadlines_.front().first <= now) {
        const int socket = deadlines_.front().second;
        Log::Line(AddressText(held_.at(socket).peer) + " did not send a whole request head in time");
        Refuse(socket, kTooSlow);
    }
}

void RequestGate::WatchListener(bool watch) {
    if (watch == listening_) {
        return;
    }
    listening_ = watch;
    epoll_event event{};
    event.events = watch ? static_cast<std::uint32_t>(EPOLLIN) : 0u;
    event.data.fd = listener_;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &event);
}
