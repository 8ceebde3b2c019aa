#include "runtime/UserRegistry.h"

#include "runtime/WideTextWin32.h"

#include <windows.h>

// The registry itself under HKEY_CURRENT_USER. Key paths and value names are GBK text, as the host names that
// name the values are.

namespace {

// Closes a registry key on every path out of a function.
class Key {
public:
    Key() = default;
    ~Key() {
        if (key_ != nullptr) {
            ::RegCloseKey(key_);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

std::string UserRegistryPath() {
    return "HKEY_CURRENT_USER";
}

std::optional<std::uint32_t> RegistryQueryDword(const std::string& key, const std::string& name,
                                                const std::string& store) {
    if (store.empty()) {
        return std::nullopt;
    }
    Key opened;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Win32::WideFromGbk(key).c_str(), 0, KEY_QUERY_VALUE, opened.Out()) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    // A value of that name but of another type still counts as there: it is not ours to replace.
    const LONG result = ::RegQueryValueExW(opened.Get(), Win32::WideFromGbk(name).c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(&value), &size);
    if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value))) {
        return 0;
    }
    if (result != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

namespace {

Result<void> SetDword(const std::string& key, const std::string& name, std::uint32_t value, const std::string& store) {
    if (store.empty()) {
        return Fail(std::errc::no_such_file_or_directory);
    }
    Key created;
    // The registry calls give their error as their result rather than through GetLastError().
    const LONG made = ::RegCreateKeyExW(HKEY_CURRENT_USER, Win32::WideFromGbk(key).c_str(), 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, created.Out(), nullptr);
    if (made != ERROR_SUCCESS) {
        return FailSystem(static_cast<int>(made));
    }
    const DWORD data = value;
    const LONG set = ::RegSetValueExW(created.Get(), Win32::WideFromGbk(name).c_str(), 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&data), sizeof data);
    return set == ERROR_SUCCESS ? Result<void>() : FailSystem(static_cast<int>(set));
}

} // namespace

Result<void> RegistrySetDword(const std::string& key, const std::string& name, std::uint32_t value,
                              const std::string& store) {
    // The value itself stays out of the reason: only where it was to go.
    return SetDword(key, name, value, store).Doing("storing " + name + " under " + key + " in the per-user registry");
}
