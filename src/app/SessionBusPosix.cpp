#include "app/SessionBus.h"

#include <dbus/dbus.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The accessibility service Qt's bridge reads two properties from, without a bound, when it is running.
constexpr char kAccessibilityService[] = "org.a11y.Bus";

// Whether libdbus's autolaunch could start or find a bus: it runs dbus-launch, from its own directory or the
// search path, and nothing else.
bool CanAutolaunch() {
    std::string directories = "/usr/bin";
    if (const char* path = std::getenv("PATH")) {
        directories += ':';
        directories += path;
    }
    for (std::size_t start = 0; start <= directories.size();) {
        std::size_t end = directories.find(':', start);
        end = end == std::string::npos ? directories.size() : end;
        const std::string directory = directories.substr(start, end - start);
        if (!directory.empty() && ::access((directory + "/dbus-launch").c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// The bus libdbus itself would connect to: the one the environment names, else the user's bus in the runtime
// directory, else whatever autolaunch finds; empty when there is none to be had. A futile autolaunch would still
// cost a fork of the whole process, with no answer at the end.
std::string SessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        return address;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        const std::string path = std::string(runtime) + "/bus";
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::getuid()) {
            char* escaped = dbus_address_escape_value(path.c_str());
            std::string address = std::string("unix:path=") + (escaped != nullptr ? escaped : "");
            dbus_free(escaped);
            return address;
        }
    }
    return CanAutolaunch() ? "autolaunch:" : "";
}

// Sends `call` (and gives it up) and waits for its reply until `deadline`. True when the other end answered,
// with a return or an error of its own; false when it said nothing in time or the connection failed.
bool Answers(DBusConnection* bus, DBusMessage* call, Clock::time_point deadline, DBusMessage** reply = nullptr) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    DBusError error = DBUS_ERROR_INIT;
    DBusMessage* answer = nullptr;
    if (call != nullptr && left > 0) {
        answer = dbus_connection_send_with_reply_and_block(bus, call, static_cast<int>(left), &error);
    }
    if (call != nullptr) {
        dbus_message_unref(call);
    }
    const bool answered =
        answer != nullptr ||
        (dbus_error_is_set(&error) && !dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY) &&
         !dbus_error_has_name(&error, DBUS_ERROR_TIMEOUT) && !dbus_error_has_name(&error, DBUS_ERROR_DISCONNECTED) &&
         !dbus_error_has_name(&error, DBUS_ERROR_NO_MEMORY));
    dbus_error_free(&error);
    if (reply != nullptr) {
        *reply = answer;
    } else if (answer != nullptr) {
        dbus_message_unref(answer);
    }
    return answered;
}

// Whether the bus at `address` lets us in, registers us, and, when the accessibility service is running, that
// service answers too: what Qt waits for before the first window can be drawn.
bool BusAnswers(const std::string& address, Clock::time_point deadline) {
    DBusError error = DBUS_ERROR_INIT;
    DBusConnection* bus = dbus_connection_open_private(address.c_str(), &error);
    dbus_error_free(&error);
    if (bus == nullptr) {
        return false;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    DBusMessage* registered = nullptr;
    bool answered =
        Answers(bus, dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"),
                deadline, &registered) &&
        registered != nullptr;
    if (registered != nullptr) {
        dbus_message_unref(registered);
    }
    DBusMessage* owned = nullptr;
    if (answered) {
        DBusMessage* ask =
            dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "NameHasOwner");
        const char* name = kAccessibilityService;
        if (ask != nullptr) {
            dbus_message_append_args(ask, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
        }
        answered = Answers(bus, ask, deadline, &owned);
    }
    dbus_bool_t running = FALSE;
    if (owned != nullptr) {
        DBusError bad = DBUS_ERROR_INIT;
        if (!dbus_message_get_args(owned, &bad, DBUS_TYPE_BOOLEAN, &running, DBUS_TYPE_INVALID)) {
            running = FALSE;
        }
        dbus_error_free(&bad);
        dbus_message_unref(owned);
    }
    if (answered && running) {
        DBusMessage* ask = dbus_message_new_method_call(kAccessibilityService, "/org/a11y/bus",
                                                        "org.freedesktop.DBus.Properties", "Get");
        const char* interface = "org.a11y.Status";
        const char* property = "ScreenReaderEnabled";
        if (ask != nullptr) {
            dbus_message_append_args(ask, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &property, DBUS_TYPE_INVALID);
        }
        answered = Answers(bus, ask, deadline);
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return answered;
}

struct Outcome {
    std::mutex mutex;
    std::condition_variable settled;
    std::optional<bool> answered;
};

} // namespace

bool SettleSessionBus(std::chrono::milliseconds bound) {
    std::string address = SessionBusAddress();
    if (address.empty()) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
        return false;
    }
    const Clock::time_point deadline = Clock::now() + bound;
    auto outcome = std::make_shared<Outcome>();
    // A bus that never speaks keeps the asking thread for good; it is left to that, holding nothing of ours.
    std::thread([outcome, address = std::move(address), deadline] {
        const bool answered = BusAnswers(address, deadline);
        const std::lock_guard lock(outcome->mutex);
        outcome->answered = answered;
        outcome->settled.notify_all();
    }).detach();
    std::unique_lock lock(outcome->mutex);
    const bool answered = outcome->settled.wait_until(lock, deadline, [&outcome] {
        return outcome->answered.has_value();
    }) && *outcome->answered;
    if (!answered) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
    }
    return answered;
}
