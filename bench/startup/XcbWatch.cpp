#include "XcbWatch.h"

#include <cstdlib>
#include <sys/select.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A thin face drawn small gives grey rather than black strokes, so "darker" is well short of black.
bool ShowsText(xcb_connection_t* connection, xcb_window_t window, const XcbRegion& region) {
    xcb_get_image_reply_t* reply =
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, region.x, region.y,
                                          region.width, region.height, ~0u),
                            nullptr);
    if (reply == nullptr) {
        return false;
    }
    const int length = xcb_get_image_data_length(reply);
    const uint8_t* data = xcb_get_image_data(reply);
    int light = 0;
    int dark = 0;
    // A 24-bit screen sends 32 bits a pixel, blue first.
    for (int i = 0; i + 3 < length; i += 4) {
        const int luma = (data[i] * 11 + data[i + 1] * 59 + data[i + 2] * 30) / 100;
        light += luma > 200 ? 1 : 0;
        dark += luma < 170 ? 1 : 0;
    }
    std::free(reply);
    const int pixels = length / 4;
    return pixels > 0 && light * 2 > pixels && dark >= 8;
}

} // namespace

void WatchTopLevelWindows(xcb_connection_t* connection) {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
}

xcb_window_t WaitForMappedWindow(xcb_connection_t* connection, Clock::time_point deadline) {
    const int fd = xcb_get_file_descriptor(connection);
    while (Clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            xcb_window_t mapped = 0;
            if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                mapped = map->override_redirect ? 0 : map->window;
            }
            std::free(event);
            if (mapped != 0) {
                return mapped;
            }
        }
        if (xcb_connection_has_error(connection)) {
            return 0;
        }
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 1000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
    return 0;
}

bool WaitUntilDrawn(xcb_connection_t* connection, xcb_window_t window, const XcbRegion& region,
                    Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        if (ShowsText(connection, window, region)) {
            return true;
        }
        if (xcb_connection_has_error(connection)) {
            return false;
        }
        usleep(500);
    }
    return false;
}
