// Measures the time from starting the program to its first window being mapped on the X display, over
// several runs, and prints the median. Usage: StartupTime PROGRAM [RUNS]
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Waits for the next top-level window to be mapped; false on a closed connection or after ten seconds.
bool WaitForMappedWindow(xcb_connection_t* connection, Clock::time_point deadline) {
    const int fd = xcb_get_file_descriptor(connection);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const bool mapped = (event->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                                !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
            std::free(event);
            if (mapped) {
                return true;
            }
        }
        if (xcb_connection_has_error(connection)) {
            return false;
        }
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 1000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 10;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    std::vector<double> millis;
    for (int run = 0; run < runs; ++run) {
        const Clock::time_point start = Clock::now();
        const pid_t child = fork();
        if (child == 0) {
            execl(argv[1], argv[1], static_cast<char*>(nullptr));
            _exit(127);
        }
        const bool shown = WaitForMappedWindow(connection, start + std::chrono::seconds(10));
        const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        if (!shown) {
            std::fprintf(stderr, "run %d: no window within 10 s\n", run + 1);
            return 1;
        }
        millis.push_back(elapsed);
        std::printf("run %2d: %.1f ms\n", run + 1, elapsed);
    }
    std::sort(millis.begin(), millis.end());
    const std::size_t n = millis.size();
    const double median = n % 2 ? millis[n / 2] : (millis[n / 2 - 1] + millis[n / 2]) / 2;
    std::printf("start to main window shown: median %.1f ms over %zu runs (min %.1f, max %.1f)\n", median, n,
                millis.front(), millis.back());
    xcb_disconnect(connection);
    return 0;
}
