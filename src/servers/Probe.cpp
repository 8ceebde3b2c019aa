#include "servers/Probe.h"

#include "runtime/TcpConnect.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace {

constexpr unsigned char kFullWidthLead = 0xA3;
constexpr unsigned char kFullWidthSpaceLead = 0xA1;
constexpr unsigned char kFullWidthSpaceTrail = 0xA1;

// The port text with its full-width characters in their ASCII forms; other two-byte characters stay whole.
std::string HalfWidth(std::string_view port) {
    std::string text;
    text.reserve(port.size());
    for (std::size_t at = 0; at < port.size(); ++at) {
        const auto lead = static_cast<unsigned char>(port[at]);
        if (lead < 0x80 || at + 1 == port.size()) {
            text += port[at];
            continue;
        }
        const auto trail = static_cast<unsigned char>(port[at + 1]);
        if (lead == kFullWidthLead && trail >= 0xA1 && trail <= 0xFE) {
            text += static_cast<char>(trail & 0x7F);
        } else if (lead == kFullWidthSpaceLead && trail == kFullWidthSpaceTrail) {
            text += ' ';
        } else {
            text.append(port.substr(at, 2));
        }
        ++at;
    }
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A C string-to-integer conversion that saturates instead of overflowing, as the platform's own does.
std::int64_t ToInteger(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = std::min<std::int64_t>(value * 10 + (text[at] - '0'), std::int64_t{INT_MAX} + 1);
    }
    value = negative ? -value : value;
    return std::clamp<std::int64_t>(value, INT_MIN, INT_MAX);
}

// Writes the time from its making to its end into `*elapsed`, when that is given.
class ConnectTimer {
public:
    explicit ConnectTimer(std::chrono::microseconds* elapsed)
        : elapsed_(elapsed) {}
    ~ConnectTimer() {
        if (elapsed_ != nullptr) {
            *elapsed_ = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_);
        }
    }
    ConnectTimer(const ConnectTimer&) = delete;
    ConnectTimer& operator=(const ConnectTimer&) = delete;

private:
    using Clock = std::chrono::steady_clock;
    std::chrono::microseconds* elapsed_;
    Clock::time_point start_ = Clock::now();
};

} // namespace

std::uint16_t ProbePort(std::string_view port) {
    const std::int64_t value = ToInteger(HalfWidth(port));
    return static_cast<std::uint16_t>(value <= 0 ? 1 : value & 0xFFFF);
}

ServerStatus ProbeEntry(const std::string& host, std::string_view port, std::chrono::milliseconds bound,
                        std::chrono::microseconds* connectTime) {
    const std::vector<Tcp::Address> addresses = Tcp::Resolve(host);
    if (addresses.empty()) {
        return ServerStatus::Offline;
    }
    // Stops once the attempt below has its answer.
    const ConnectTimer timer(connectTime);
    return Tcp::ConnectAccepted(addresses, ProbePort(port), bound) ? ServerStatus::Online : ServerStatus::Offline;
}
