#pragma once

#include <cstdint>
#include <string>

// Peers on 127.0.0.1 (or ::1) for the probe, each on an ephemeral port so that tests running side by side
// never meet.

enum class Loopback { Ipv4, Ipv6 };

// Accepts connections (into its queue; nobody calls accept).
class Listener {
public:
    explicit Listener(int backlog = 128, Loopback on = Loopback::Ipv4);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

protected:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A port bound but not listening: connections to it are refused. Holding it keeps anyone else off the port.
class ClosedPort {
public:
    explicit ClosedPort(Loopback on = Loopback::Ipv4);
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// A port that never answers: a listener whose one-place accept queue is taken, so Linux drops further SYNs
// and a connect waits until its caller gives up.
class SilentPort : public Listener {
public:
    SilentPort();
    ~SilentPort();

private:
    int filler_ = -1;
};
