#pragma once

// The two remote-desktop options of the server page that the settings file keeps; the defaults are the
// page's own (force login off, full screen).
struct ConnectionOptions {
    bool forceLogin = false;
    bool fullScreen = true;

    bool operator==(const ConnectionOptions&) const = default;
};
