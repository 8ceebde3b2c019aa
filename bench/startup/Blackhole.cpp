// A loopback port that swallows connection attempts: it listens, never accepts, and its accept queue is full,
// so a new connection's handshake gets no answer, as with an address whose packets are dropped. Prints
// "http://127.0.0.1:PORT/" and waits until it is ended.
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int main() {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 0) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("blackhole");
        return 1;
    }
    // With a backlog of 0 the queue holds one connection; fill it, and the handshakes that follow are dropped.
    for (int i = 0; i < 2; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    std::printf("http://127.0.0.1:%u/\n", ntohs(address.sin_port));
    std::fflush(stdout);
    pause();
    return 0;
}
