#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

// A scripted HTTP server on 127.0.0.1 and an ephemeral port, for answers a real service would never give. Each
// connection runs `handler` on its own thread with the socket and the request target; `stopping` turns true when
// the server goes, so a stalling handler can end.
class LoopbackHttpServer {
public:
    using Handler = std::function<void(int socket, const std::string& target, const std::atomic<bool>& stopping)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url(std::string_view path = "/") const;
    // The request heads received so far, oldest first.
    std::vector<std::string> Heads() const;
    std::vector<std::string> Targets() const;
    // Ends handlers that wait for `stopping`, without closing the server.
    void Release() { stopping_ = true; }

private:
    void AcceptLoop();
    void Serve(int socket);

    Handler handler_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> closing_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

// Writes a whole response: status line, Content-Length when `withLength`, `headers` (each ending CRLF), body.
void SendResponse(int socket, std::string_view status, std::string_view body, std::string_view headers = "",
                  bool withLength = true);
bool SendAll(int socket, std::string_view bytes);

// Sends `request` as it is to 127.0.0.1:`port` and reads the answer until the server closes or `seconds` pass.
std::string RawExchange(std::uint16_t port, std::string_view request, int seconds = 5);

// The status code of an HTTP answer, or 0 when there is none.
int StatusOf(std::string_view answer);

// The body of an HTTP answer, after the blank line.
std::string BodyOf(std::string_view answer);

// A tolvar-lookupd run on 127.0.0.1 and an ephemeral port, stopped when the object goes.
class LookupdProcess {
public:
    explicit LookupdProcess(std::vector<std::string> extraArguments = {});
    ~LookupdProcess();
    LookupdProcess(const LookupdProcess&) = delete;
    LookupdProcess& operator=(const LookupdProcess&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Url() const;
    bool Running() const;
    // Stops the service with SIGTERM and returns its exit status as waitpid reports it.
    int Stop();

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};
