#include "runtime/DataProtection.h"

#include "runtime/Gbk.h"
#include "runtime/WideTextWin32.h"

#include <climits>
#include <windows.h>
// after windows.h, which it needs
#include <dpapi.h>

// The system keeps the user's key; there is no key file, so the key path means nothing here.

namespace {

// Frees what the protection calls allocate for their caller.
class LocalBuffer {
public:
    explicit LocalBuffer(void* data)
        : data_(data) {}
    ~LocalBuffer() {
        if (data_ != nullptr) {
            ::LocalFree(data_);
        }
    }
    LocalBuffer(const LocalBuffer&) = delete;
    LocalBuffer& operator=(const LocalBuffer&) = delete;

private:
    void* data_;
};

} // namespace

std::string DataProtectionKeyPath() {
    return {};
}

std::optional<Bytes> ProtectData(const Bytes& data, std::string_view description, const std::string& /*keyPath*/) {
    if (description.size() > 255 || data.size() > ULONG_MAX) {
        return std::nullopt;
    }
    DATA_BLOB in{static_cast<DWORD>(data.size()), const_cast<BYTE*>(data.data())};
    DATA_BLOB out{};
    const std::wstring wideDescription = Win32::WideFromGbk(description);
    // No extra entropy, no prompt, no flags: the blob opens for this user on this machine.
    if (!::CryptProtectData(&in, wideDescription.c_str(), nullptr, nullptr, nullptr, 0, &out)) {
        return std::nullopt;
    }
    const LocalBuffer owned(out.pbData);
    return Bytes(out.pbData, out.pbData + out.cbData);
}

std::optional<Bytes> UnprotectData(const Bytes& sealed, std::string* description, const std::string& /*keyPath*/) {
    if (sealed.empty() || sealed.size() > ULONG_MAX) {
        return std::nullopt;
    }
    DATA_BLOB in{static_cast<DWORD>(sealed.size()), const_cast<BYTE*>(sealed.data())};
    DATA_BLOB out{};
    wchar_t* wideDescription = nullptr;
    if (!::CryptUnprotectData(&in, &wideDescription, nullptr, nullptr, nullptr, 0, &out)) {
        return std::nullopt;
    }
    const LocalBuffer ownedDescription(wideDescription);
    const LocalBuffer ownedData(out.pbData);
    if (description != nullptr) {
        *description = wideDescription != nullptr ? Win32::GbkFromWide(wideDescription) : std::string();
    }
    Bytes data(out.pbData, out.pbData + out.cbData);
    ::SecureZeroMemory(out.pbData, out.cbData);
    return data;
}
