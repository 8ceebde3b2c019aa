#include "Server.h"

#include "AnswerPage.h"
#include "Http.h"
#include "Locator.h"
#include "Log.h"
#include "Lookup.h"
#include "Resolver.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Bytes taken from a socket at once.
constexpr std::size_t kReadBytes = 16 * 1024;
// Answers to pipelined requests queued beyond this wait until the client has taken what is queued.
constexpr std::size_t kQueuedAnswerBytes = 64 * 1024;
constexpr std::uint32_t kReading = EPOLLIN | EPOLLRDHUP;

enum class Phase {
    Head,      // waiting for a request head, under the head deadline
    Idle,      // kept open after an answer, nothing of the next request yet
    Resolving, // a request waits for its name to be resolved
    Writing,   // answers wait for the client to take them
};

struct Connection;

// Connections under deadlines of one length, so the order they enter is the order they fall due.
class DeadlineList {
public:
    explicit DeadlineList(std::chrono::milliseconds length)
        : length_(length) {}

    void Append(Connection* connection, Clock::time_point now);
    void Remove(Connection* connection);
    Connection* Front() const { return front_; }
    std::size_t Size() const { return size_; }

private:
    std::chrono::milliseconds length_;
    Connection* front_ = nullptr;
    Connection* back_ = nullptr;
    std::size_t size_ = 0;
};

struct Connection {
    int fd = -1;
    std::uint32_t peer = 0;
    Phase phase = Phase::Head;
    // Whether the connection is in the epoll set, and the events it watches for there.
    bool registered = false;
    std::uint32_t watched = 0;
    // Close once the queued answers are out.
    bool closeAfter = false;
    // An answer has been queued since the connection last waited.
    bool answered = false;
    // Heads left unanswered in `in` because too many answers were queued.
    bool stalled = false;
    bool noDelay = false;
    // The request waiting for its name: its lookup, and how its answer goes out.
    std::uint64_t lookup = 0;
    bool lookupHeadOnly = false;
    bool lookupKeepOpen = false;
    // Received bytes not answered yet, and answers not sent yet.
    std::string in;
    std::string out;
    DeadlineList* list = nullptr;
    Connection* previous = nullptr;
    Connection* next = nullptr;
    Clock::time_point since;
    Clock::time_point due;
};

void DeadlineList::Append(Connection* connection, Clock::time_point now) {
    connection->list = this;
    connection->since = now;
    connection->due = now + length_;
    connection->previous = back_;
    connection->next = nullptr;
    (back_ != nullptr ? back_->next : front_) = connection;
    back_ = connection;
    ++size_;
}

void DeadlineList::Remove(Connection* connection) {
    (connection->previous != nullptr ? connection->previous->next : front_) = connection->next;
    (connection->next != nullptr ? connection->next->previous : back_) = connection->previous;
    connection->list = nullptr;
    connection->previous = connection->next = nullptr;
    --size_;
}

// Reads what the client has sent so far, so that closing sends an orderly end after a refusal and not a reset
// that could discard the refusal before the client reads it.
void Discard(int fd) {
    char discard[4096];
    for (int round = 0; round < 16 && recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0; ++round) {
    }
}

std::string AddressText(std::uint32_t address) {
    return DottedDecimal(address);
}

} // namespace

class Server::Worker {
public:
    Worker(Server& server, unsigned waitingShare);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void Run();
    void Wake();

private:
    void Accept();
    void WatchListener(bool watch);
    void Handle(Connection* connection, std::uint32_t events);
    void ReadFrom(Connection* connection);
    void Process(Connection* connection, std::string_view data, bool fromIn);
    void Answer(Connection* connection, const RequestHead& head);
    void Queue(Connection* connection, const Reply& reply, bool headOnly, bool keepOpen);
    void Flush(Connection* connection);
    void Refuse(Connection* connection, unsigned status, std::string_view text);
    void Close(Connection* connection);
    void Enter(Connection* connection, Phase phase);
    void Watch(Connection* connection, std::uint32_t events);
    void Expire();
    void TakeResolved();
    DeadlineList& ListOf(Phase phase);
    std::optional<Clock::time_point> NextDue() const;
    std::string_view Date();

    Server& server_;
    const unsigned waitingShare_;
    int epoll_ = -1;
    int wake_ = -1;
    std::shared_ptr<Mailbox> mailbox_;
    DeadlineList heads_;
    DeadlineList idle_;
    DeadlineList resolving_;
    DeadlineList writing_;
    std::vector<std::unique_ptr<Connection>> all_;
    std::vector<Connection*> free_;
    std::unordered_map<std::uint64_t, Connection*> lookups_;
    std::uint64_t nextLookup_ = 1;
    std::vector<char> scratch_;
    bool listening_ = true;
    std::optional<Clock::time_point> acceptAgain_;
    std::time_t dateSecond_ = 0;
    char date_[40] = {};
    // What the epoll set's data points at for the descriptors that are no connection.
    char listenerTag_ = 0;
    char wakeTag_ = 0;
    char mailTag_ = 0;
};

Server::Worker::Worker(Server& server, unsigned waitingShare)
    : server_(server)
    , waitingShare_(waitingShare)
    , mailbox_(std::make_shared<Mailbox>())
    , heads_(server.limits_.headDeadline)
    , idle_(server.limits_.idleLimit)
    , resolving_(server.limits_.resolveDeadline)
    , writing_(server.limits_.headDeadline)
    , scratch_(kReadBytes) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = &wakeTag_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    event.data.ptr = &mailTag_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, mailbox_->Descriptor(), &event);
    listening_ = false;
    WatchListener(true);
}

Server::Worker::~Worker() {
    for (const std::unique_ptr<Connection>& connection : all_) {
        if (connection->fd >= 0) {
            close(connection->fd);
        }
    }
    close(wake_);
    close(epoll_);
}

void Server::Worker::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
}

void Server::Worker::WatchListener(bool watch) {
    if (watch == listening_) {
        return;
    }
    listening_ = watch;
    if (!watch) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, server_.listener_, nullptr);
        return;
    }
    // Exclusive: a new connection wakes one of the threads, not all of them.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLEXCLUSIVE;
    event.data.ptr = &listenerTag_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, server_.listener_, &event);
}

std::optional<Clock::time_point> Server::Worker::NextDue() const {
    std::optional<Clock::time_point> due = acceptAgain_;
    for (const DeadlineList* list : {&heads_, &idle_, &resolving_, &writing_}) {
        if (list->Front() != nullptr && (!due || list->Front()->due < *due)) {
            due = list->Front()->due;
        }
    }
    return due;
}

void Server::Worker::Run() {
    std::vector<epoll_event> events(256);
    while (!server_.stopping_) {
        int timeout = -1;
        if (const std::optional<Clock::time_point> due = NextDue()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, wait.count()));
        }
        const int ready = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
        if (ready < 0 && errno != EINTR) {
            Log::Line(std::string("waiting for connections failed: ") + std::strerror(errno));
            return;
        }
        for (int i = 0; i < ready; ++i) {
            const epoll_event& event = events[static_cast<std::size_t>(i)];
            if (event.data.ptr == &listenerTag_) {
                Accept();
            } else if (event.data.ptr == &wakeTag_) {
                return;
            } else if (event.data.ptr == &mailTag_) {
                TakeResolved();
            } else {
                Handle(static_cast<Connection*>(event.data.ptr), event.events);
            }
        }
        Expire();
        if (acceptAgain_ && *acceptAgain_ <= Clock::now()) {
            acceptAgain_.reset();
            WatchListener(true);
        }
    }
}

void Server::Worker::Accept() {
    // A bounded batch, so that connections already open are served between batches of a flood.
    for (int batch = 0; batch < 64; ++batch) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd =
            accept4(server_.listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                Log::Line(std::string("cannot accept connections for now: ") + std::strerror(errno));
                acceptAgain_ = Clock::now() + std::chrono::milliseconds(100);
                WatchListener(false);
            }
            return;
        }
        const std::uint32_t address = ntohl(peer.sin_addr.s_addr);
        if (!server_.Admit(address)) {
            Log::Line(AddressText(address) + " has " + std::to_string(server_.limits_.perAddress) +
                      " connections open; refusing another");
            // The answer is best effort and the connection goes at once, whatever the peer does.
            Discard(fd);
            std::string answer;
            AppendAnswer(answer, Reply{503, "too many connections from this address\n"}, false, false, Date());
            send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            close(fd);
            continue;
        }
        if (heads_.Size() + idle_.Size() >= waitingShare_) {
            // Full: the connection that has waited longest goes. A head that comes at once is answered within
            // moments, so clients that send theirs are not the ones pushed out, however many addresses a flood of
            // idle connections comes from.
            Connection* oldest = heads_.Front();
            if (oldest == nullptr || (idle_.Front() != nullptr && idle_.Front()->since < oldest->since)) {
                oldest = idle_.Front();
            }
            Log::Line(std::to_string(heads_.Size() + idle_.Size()) + " connections waiting; closing the one from " +
                      AddressText(oldest->peer) + " that has waited longest");
            Refuse(oldest, 503, "too many connections waiting\n");
        }
        Connection* connection;
        if (free_.empty()) {
            all_.push_back(std::make_unique<Connection>());
            connection = all_.back().get();
        } else {
            connection = free_.back();
            free_.pop_back();
        }
        connection->fd = fd;
        connection->peer = address;
        Enter(connection, Phase::Head);
        // The head has often arrived with the connection: then it is answered, and often closed, before the
        // connection ever joins the epoll set.
        ReadFrom(connection);
        if (connection->fd == fd && !connection->registered) {
            Watch(connection, kReading);
        }
    }
}

void Server::Worker::Handle(Connection* connection, std::uint32_t events) {
    if (connection->fd < 0) {
        // Closed by an earlier event of the same batch.
        return;
    }
    switch (connection->phase) {
    case Phase::Head:
    case Phase::Idle:
        ReadFrom(connection);
        return;
    case Phase::Writing:
        if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
            Close(connection);
        } else if ((events & EPOLLOUT) != 0) {
            Flush(connection);
        }
        return;
    case Phase::Resolving:
        // Nothing is watched while the name is resolved, so only a connection gone wrong reports.
        Close(connection);
        return;
    }
}

void Server::Worker::ReadFrom(Connection* connection) {
    const bool fromIn = !connection->in.empty();
    const std::size_t kept = connection->in.size();
    char* buffer = scratch_.data();
    if (fromIn) {
        connection->in.resize(kept + kReadBytes);
        buffer = connection->in.data() + kept;
    }
    const ssize_t got = recv(connection->fd, buffer, kReadBytes, 0);
    if (fromIn) {
        connection->in.resize(kept + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) {
            Close(connection);
        }
        return;
    }
    if (got == 0) {
        if (connection->in.empty()) {
            Close(connection);
        } else {
            // The request ended before its head did.
            Refuse(connection, 400, "malformed request\n");
        }
        return;
    }
    Process(connection,
            fromIn ? std::string_view(connection->in) : std::string_view(buffer, static_cast<std::size_t>(got)),
            fromIn);
}

void Server::Worker::Process(Connection* connection, std::string_view data, bool fromIn) {
    std::size_t consumed = 0;
    bool stalled = false;
    while (!connection->closeAfter && connection->phase != Phase::Resolving && consumed < data.size()) {
        if (connection->out.size() >= kQueuedAnswerBytes) {
            stalled = true;
            break;
        }
        RequestHead head;
        const HeadState state = ReadHead(data.substr(consumed), server_.limits_.headBytes, head);
        if (state == HeadState::Incomplete) {
            break;
        }
        if (state != HeadState::Whole) {
            Refuse(connection, state == HeadState::Malformed ? 400 : 431,
                   state == HeadState::Malformed ? "malformed request\n" : "request head too large\n");
            return;
        }
        consumed += head.size;
        Answer(connection, head);
    }
    if (fromIn) {
        connection->in.erase(0, consumed);
    } else {
        connection->in.assign(data.substr(consumed));
    }
    // Bytes behind a request that closes the connection or waits for a name are taken up later, if ever.
    connection->stalled = stalled || (connection->phase == Phase::Resolving && !connection->in.empty());
    if (!connection->in.empty() && connection->phase == Phase::Idle && !connection->answered) {
        // The first bytes of the next request: from now on its head is due.
        Enter(connection, Phase::Head);
    }
    Flush(connection);
}

void Server::Worker::Answer(Connection* connection, const RequestHead& head) {
    const bool headOnly = head.method == "HEAD";
    const bool keepOpen = head.Persistent();
    Asked asked = Ask(head, connection->peer, server_.locator_, server_.resolver_ != nullptr);
    if (!asked.reply) {
        const std::uint64_t lookup = nextLookup_++;
        if (server_.resolver_->Start(asked.name, mailbox_, lookup, Clock::now() + server_.limits_.resolveDeadline)) {
            connection->lookup = lookup;
            connection->lookupHeadOnly = headOnly;
            connection->lookupKeepOpen = keepOpen;
            lookups_.emplace(lookup, connection);
            Enter(connection, Phase::Resolving);
            Watch(connection, 0);
            return;
        }
        Log::Line("too many names being resolved; answering " + AddressText(connection->peer) + " without");
        asked.reply = PageAbout(connection->peer, std::nullopt, server_.locator_);
    }
    Queue(connection, *asked.reply, headOnly, keepOpen && asked.reply->status < 400);
}

void Server::Worker::Queue(Connection* connection, const Reply& reply, bool headOnly, bool keepOpen) {
    AppendAnswer(connection->out, reply, headOnly, keepOpen, Date());
    connection->answered = true;
    connection->closeAfter = !keepOpen;
}

void Server::Worker::Flush(Connection* connection) {
    if (!connection->out.empty()) {
        const ssize_t sent =
            send(connection->fd, connection->out.data(), connection->out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            Close(connection);
            return;
        }
        connection->out.erase(0, static_cast<std::size_t>(std::max<ssize_t>(sent, 0)));
    }
    if (connection->phase == Phase::Resolving) {
        // Whatever the client has not taken yet goes out with the answer about the name.
        return;
    }
    if (!connection->out.empty()) {
        if (connection->phase != Phase::Writing) {
            Enter(connection, Phase::Writing);
        }
        Watch(connection, EPOLLOUT);
        return;
    }
    if (connection->closeAfter) {
        if (!connection->in.empty()) {
            // The client sent more behind the last request; what is still unread would reset the connection.
            Discard(connection->fd);
        }
        Close(connection);
        return;
    }
    if (connection->stalled) {
        connection->stalled = false;
        Process(connection, connection->in, true);
        return;
    }
    Watch(connection, kReading);
    const bool waiting = connection->phase == Phase::Head || connection->phase == Phase::Idle;
    if (connection->answered || !waiting) {
        connection->answered = false;
        if (!connection->noDelay) {
            // Kept open: answers to requests that follow go out at once, not held back for acknowledgements.
            const int on = 1;
            setsockopt(connection->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            connection->noDelay = true;
        }
        Enter(connection, connection->in.empty() ? Phase::Idle : Phase::Head);
    }
}

void Server::Worker::Refuse(Connection* connection, unsigned status, std::string_view text) {
    Discard(connection->fd);
    connection->in.clear();
    connection->stalled = false;
    if (connection->phase == Phase::Resolving) {
        lookups_.erase(connection->lookup);
    }
    // Answers already queued go first, so the client sees every request it sent answered or refused in order.
    Queue(connection, Reply{status, std::string(text)}, false, false);
    if (connection->phase == Phase::Resolving) {
        Enter(connection, Phase::Writing);
    }
    Flush(connection);
}

void Server::Worker::Close(Connection* connection) {
    if (connection->phase == Phase::Resolving) {
        lookups_.erase(connection->lookup);
    }
    connection->list->Remove(connection);
    close(connection->fd);
    server_.Leave(connection->peer);
    connection->fd = -1;
    connection->registered = false;
    connection->closeAfter = connection->answered = connection->stalled = connection->noDelay = false;
    connection->in.clear();
    connection->out.clear();
    // A connection that once held a flood of pipelined answers gives the memory back.
    if (connection->out.capacity() > kQueuedAnswerBytes) {
        connection->out.shrink_to_fit();
    }
    if (connection->in.capacity() > 2 * kReadBytes) {
        connection->in.shrink_to_fit();
    }
    free_.push_back(connection);
}

DeadlineList& Server::Worker::ListOf(Phase phase) {
    switch (phase) {
    case Phase::Head:
        return heads_;
    case Phase::Idle:
        return idle_;
    case Phase::Resolving:
        return resolving_;
    case Phase::Writing:
        break;
    }
    return writing_;
}

void Server::Worker::Enter(Connection* connection, Phase phase) {
    if (connection->list != nullptr) {
        connection->list->Remove(connection);
    }
    connection->phase = phase;
    ListOf(phase).Append(connection, Clock::now());
}

void Server::Worker::Watch(Connection* connection, std::uint32_t events) {
    if (connection->registered && connection->watched == events) {
        return;
    }
    epoll_event event{};
    event.events = events;
    event.data.ptr = connection;
    epoll_ctl(epoll_, connection->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, connection->fd, &event);
    connection->registered = true;
    connection->watched = events;
}

void Server::Worker::Expire() {
    const Clock::time_point now = Clock::now();
    while (heads_.Front() != nullptr && heads_.Front()->due <= now) {
        Connection* late = heads_.Front();
        Log::Line(AddressText(late->peer) + " did not send a whole request head in time");
        Refuse(late, 408, "request head not received in time\n");
    }
    while (idle_.Front() != nullptr && idle_.Front()->due <= now) {
        Close(idle_.Front());
    }
    while (writing_.Front() != nullptr && writing_.Front()->due <= now) {
        Log::Line(AddressText(writing_.Front()->peer) + " did not take its answers in time");
        Close(writing_.Front());
    }
    while (resolving_.Front() != nullptr && resolving_.Front()->due <= now) {
        Connection* late = resolving_.Front();
        lookups_.erase(late->lookup);
        Queue(late, PageAbout(late->peer, std::nullopt, server_.locator_), late->lookupHeadOnly, late->lookupKeepOpen);
        Enter(late, Phase::Writing);
        Flush(late);
    }
}

void Server::Worker::TakeResolved() {
    for (const Mailbox::Result& result : mailbox_->Take()) {
        const auto found = lookups_.find(result.token);
        if (found == lookups_.end()) {
            continue;
        }
        Connection* connection = found->second;
        lookups_.erase(found);
        Queue(connection, PageAbout(connection->peer, result.address, server_.locator_), connection->lookupHeadOnly,
              connection->lookupKeepOpen);
        Enter(connection, Phase::Writing);
        Flush(connection);
    }
}

std::string_view Server::Worker::Date() {
    const std::time_t now = std::time(nullptr);
    if (now != dateSecond_) {
        dateSecond_ = now;
        std::tm parts{};
        gmtime_r(&now, &parts);
        std::strftime(date_, sizeof date_, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    }
    return date_;
}

Server::Server(int listener, unsigned threads, Limits limits, const Locator& locator, Resolver* resolver)
    : listener_(listener)
    , limits_(limits)
    , locator_(locator)
    , resolver_(resolver) {
    threads = std::max(1u, threads);
    const unsigned share = std::max(1u, (limits.waiting + threads - 1) / threads);
    for (unsigned i = 0; i < threads; ++i) {
        workers_.push_back(std::make_unique<Worker>(*this, share));
    }
    for (const std::unique_ptr<Worker>& worker : workers_) {
        threads_.emplace_back([&worker] { worker->Run(); });
    }
}

Server::~Server() {
    Stop();
    workers_.clear();
    close(listener_);
}

void Server::Stop() {
    stopping_ = true;
    for (const std::unique_ptr<Worker>& worker : workers_) {
        worker->Wake();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

bool Server::Admit(std::uint32_t address) {
    const std::lock_guard lock(addressesMutex_);
    unsigned& open = addresses_[address];
    if (open >= limits_.perAddress) {
        if (open == 0) {
            addresses_.erase(address);
        }
        return false;
    }
    ++open;
    return true;
}

void Server::Leave(std::uint32_t address) {
    const std::lock_guard lock(addressesMutex_);
    const auto found = addresses_.find(address);
    if (found != addresses_.end() && --found->second == 0) {
        addresses_.erase(found);
    }
}
