#include "LoopbackHttp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool WaitReadable(int fd, int millis) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, millis) > 0;
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(Handler handler)
    : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    closing_ = true;
    acceptor_.join();
    for (std::thread& connection : connections_) {
        connection.join();
    }
    close(listener_);
}

std::string LoopbackHttpServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> LoopbackHttpServer::Heads() const {
    const std::lock_guard lock(mutex_);
    return heads_;
}

std::vector<std::string> LoopbackHttpServer::Targets() const {
    std::vector<std::string> targets;
    for (const std::string& head : Heads()) {
        const std::size_t first = head.find(' ');
        const std::size_t second = head.find(' ', first + 1);
        targets.push_back(first == std::string::npos ? "" : head.substr(first + 1, second - first - 1));
    }
    return targets;
}

void LoopbackHttpServer::AcceptLoop() {
    while (!closing_) {
        if (!WaitReadable(listener_, 20)) {
            continue;
        }
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            connections_.emplace_back([this, connection] { Serve(connection); });
        }
    }
}

void LoopbackHttpServer::Serve(int socket) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !closing_) {
        if (!WaitReadable(socket, 20)) {
            continue;
        }
        const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }
    std::string target;
    if (const std::size_t first = head.find(' '); first != std::string::npos) {
        target = head.substr(first + 1, head.find(' ', first + 1) - first - 1);
    }
    {
        const std::lock_guard lock(mutex_);
        heads_.push_back(head);
    }
    handler_(socket, target, stopping_);
    close(socket);
}

bool SendAll(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void SendResponse(int socket, std::string_view status, std::string_view body, std::string_view headers,
                  bool withLength) {
    std::string head = "HTTP/1.0 " + std::string(status) + "\r\n" + std::string(headers);
    if (withLength) {
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    head += "\r\n";
    if (SendAll(socket, head)) {
        SendAll(socket, body);
    }
}

std::string RawExchange(std::uint16_t port, std::string_view request, int seconds) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    std::string answer;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 && SendAll(fd, request)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        char buffer[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            if (!WaitReadable(fd, 50)) {
                continue;
            }
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            answer.append(buffer, static_cast<std::size_t>(got));
        }
    }
    close(fd);
    return answer;
}

int StatusOf(std::string_view answer) {
    if (answer.substr(0, 5) != "HTTP/" || answer.find(' ') == std::string_view::npos) {
        return 0;
    }
    return std::atoi(std::string(answer.substr(answer.find(' ') + 1, 3)).c_str());
}

std::string BodyOf(std::string_view answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string_view::npos ? "" : std::string(answer.substr(end + 4));
}

LookupdProcess::LookupdProcess(std::vector<std::string> extraArguments) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::vector<std::string> arguments{TOLVAR_LOOKUPD, "--listen", "127.0.0.1:0", "--threads", "2"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The service names its port on its first line of output.
    std::string line;
    char c = 0;
    while (WaitReadable(out[0], 10000) && read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    port_ = colon == std::string::npos ? 0 : static_cast<std::uint16_t>(std::atoi(line.c_str() + colon + 1));
    if (port_ == 0) {
        Stop();
        throw std::runtime_error("tolvar-lookupd did not start: " + line);
    }
}

LookupdProcess::~LookupdProcess() {
    Stop();
}

std::string LookupdProcess::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

bool LookupdProcess::Running() const {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

int LookupdProcess::Stop() {
    int status = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    return status;
}
