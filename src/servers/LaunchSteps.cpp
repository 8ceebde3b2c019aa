#include "servers/LaunchSteps.h"

#include "runtime/DetachedProcess.h"
#include "runtime/Log.h"
#include "runtime/UserRegistry.h"

const char* const kLocalDevicesKey = "Software\\Microsoft\\Terminal Server Client\\LocalDevices";

namespace {

constexpr std::uint32_t kLocalDevicesValue = 76;

// The first of the clients, in order of preference, that is on PATH.
std::string FindClient() {
    for (const std::string& name : RemoteDesktopClients()) {
        if (std::string path = FindOnPath(name); !path.empty()) {
            return path;
        }
    }
    return {};
}

} // namespace

std::optional<LaunchResult> RefusedLaunch(const ServerEntry& entry, std::string& client) {
    LaunchResult refused;
    // A line break from a file that never went through the editor would let the entry rewrite the file's
    // other lines, the address among them, while the list shows another.
    refused.unsafeField = UnsafeConnectionField(entry);
    if (refused.unsafeField != ConnectionField::None) {
        refused.outcome = LaunchOutcome::UnsafeValue;
        return refused;
    }
    // Without a client nothing is left behind: no file, no registry value.
    client = FindClient();
    if (client.empty()) {
        refused.outcome = LaunchOutcome::NoClient;
        return refused;
    }
    return std::nullopt;
}

void RecordLocalDevices(const std::string& host) {
    if (!RegistryQueryDword(kLocalDevicesKey, host)) {
        // Without the value the client asks about local devices itself; the session starts all the same.
        if (Result<void> recorded = RegistrySetDword(kLocalDevicesKey, host, kLocalDevicesValue); !recorded) {
            Log::Failure("servers", "the client's local-devices value could not be stored", recorded.error());
        }
    }
}
