#include "support/PrivateBus.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

bool RunOnPrivateBus() {
    if (std::getenv("TOLVAR_TEST_PRIVATE_BUS") != nullptr) {
        return true;
    }
    ::setenv("TOLVAR_TEST_PRIVATE_BUS", "1", 1);
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return false;
    }
    std::vector<std::string> words{"dbus-run-session", "--", self};
    for (std::size_t at = all.find('\0'); at != std::string::npos && at + 1 < all.size();) {
        const std::size_t end = all.find('\0', at + 1);
        words.push_back(all.substr(at + 1, end - at - 1));
        at = end;
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    // No private bus: make sure no other one is reached either.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    return false;
}
