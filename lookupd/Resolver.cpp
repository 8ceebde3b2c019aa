#include "Resolver.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <netdb.h>
#include <sys/eventfd.h>
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

struct Resolver::Lookup {
    std::string name;
    addrinfo hints{};
    gaicb request{};
    std::shared_ptr<Mailbox> mailbox;
    std::uint64_t token = 0;
    std::shared_ptr<std::atomic<unsigned>> underWay;
};

Resolver::Resolver(unsigned limit)
    : limit_(limit)
    , underWay_(std::make_shared<std::atomic<unsigned>>(0)) {}

bool Resolver::Start(const std::string& name, std::shared_ptr<Mailbox> mailbox, std::uint64_t token) {
    if (underWay_->fetch_add(1) >= limit_) {
        --*underWay_;
        return false;
    }
    auto* lookup = new Lookup{name, {}, {}, std::move(mailbox), token, underWay_};
    lookup->hints.ai_family = AF_INET;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = lookup->name.c_str();
    lookup->request.ar_request = &lookup->hints;
    sigevent done{};
    done.sigev_notify = SIGEV_THREAD;
    done.sigev_value.sival_ptr = lookup;
    done.sigev_notify_function = [](sigval value) { Finished(static_cast<Lookup*>(value.sival_ptr)); };
    gaicb* requests[] = {&lookup->request};
    if (getaddrinfo_a(GAI_NOWAIT, requests, 1, &done) != 0) {
        --*underWay_;
        delete lookup;
        return false;
    }
    return true;
}

void Resolver::Finished(Lookup* lookup) {
    std::optional<std::uint32_t> address;
    if (gai_error(&lookup->request) == 0) {
        for (const addrinfo* found = lookup->request.ar_result; found != nullptr; found = found->ai_next) {
            if (found->ai_family == AF_INET) {
                address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
                break;
            }
        }
        freeaddrinfo(lookup->request.ar_result);
    }
    lookup->mailbox->Post({lookup->token, address});
    --*lookup->underWay;
    delete lookup;
}
