#include "runtime/DataProtection.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/Files.h"
#include "runtime/NewFile.h"
#include "runtime/ProgramDirectory.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kMagic = "TDP1";
constexpr std::size_t kNonceOffset = kMagic.size();
constexpr std::size_t kBoxOffset = kNonceOffset + crypto_secretbox_NONCEBYTES;

// The key wipes itself when it goes out of scope.
class Key {
public:
    Key() = default;
    ~Key() { sodium_memzero(bytes_.data(), bytes_.size()); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    unsigned char* Data() { return bytes_.data(); }
    std::size_t Size() const { return bytes_.size(); }

private:
    std::array<unsigned char, crypto_secretbox_KEYBYTES> bytes_{};
};

enum class LoadResult { Loaded, Missing, Unusable };

// A key file that someone else owns or could read is not a secret any more, so it is refused, not used.
LoadResult LoadKey(const std::string& path, Key& key) {
    // Non-blocking, so that a FIFO planted under the name is refused instead of hanging the connect.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) {
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Unusable;
    }
    struct stat info {};
    const bool usable = ::fstat(fd.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                        (info.st_mode & 077) == 0 && info.st_size == static_cast<off_t>(key.Size()) &&
                        ReadExactly(fd.Get(), key.Data(), key.Size());
    return usable ? LoadResult::Loaded : LoadResult::Unusable;
}

// Makes a fresh key file unless one is there. It is created whole or not at all, so two processes making the key
// at once both end up with the one that came first; the caller loads whichever that is.
void CreateKey(const std::string& path) {
    Bytes key(crypto_secretbox_KEYBYTES);
    randombytes_buf(key.data(), key.size());
    // Nothing to do on a failure here: it is either another process's key already there, which the caller then
    // loads, or no key at all, which the caller's load reports.
    static_cast<void>(CreateNewFile(path, key, 0600));
    sodium_memzero(key.data(), key.size());
}

bool GetKey(const std::string& path, Key& key, bool create) {
    if (path.empty() || sodium_init() < 0) {
        return false;
    }
    switch (LoadKey(path, key)) {
    case LoadResult::Loaded:
        return true;
    case LoadResult::Unusable:
        return false;
    case LoadResult::Missing:
        break;
    }
    if (!create) {
        return false;
    }
    CreateKey(path);
    return LoadKey(path, key) == LoadResult::Loaded;
}

} // namespace

std::string DataProtectionKeyPath() {
    const std::string directory = UserDataDirectory();
    return directory.empty() ? std::string() : directory + "/protect.key";
}

std::optional<Bytes> ProtectData(const Bytes& data, std::string_view description, const std::string& keyPath) {
    if (description.size() > 255) {
        return std::nullopt;
    }
    Key key;
    if (!GetKey(keyPath, key, true)) {
        return std::nullopt;
    }
    // The description is sealed with the data, so it cannot be swapped without the key.
    Bytes plain;
    plain.reserve(1 + description.size() + data.size());
    plain.push_back(static_cast<unsigned char>(description.size()));
    plain.insert(plain.end(), description.begin(), description.end());
    plain.insert(plain.end(), data.begin(), data.end());

    Bytes sealed(kBoxOffset + crypto_secretbox_MACBYTES + plain.size());
    std::copy(kMagic.begin(), kMagic.end(), sealed.begin());
    randombytes_buf(sealed.data() + kNonceOffset, crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(sealed.data() + kBoxOffset, plain.data(), plain.size(), sealed.data() + kNonceOffset,
                          key.Data());
    sodium_memzero(plain.data(), plain.size());
    return sealed;
}

std::optional<Bytes> UnprotectData(const Bytes& sealed, std::string* description, const std::string& keyPath) {
    if (sealed.size() < kBoxOffset + crypto_secretbox_MACBYTES + 1 ||
        !std::equal(kMagic.begin(), kMagic.end(), sealed.begin())) {
        return std::nullopt;
    }
    Key key;
    if (!GetKey(keyPath, key, false)) {
        return std::nullopt;
    }
    Bytes plain(sealed.size() - kBoxOffset - crypto_secretbox_MACBYTES);
    if (crypto_secretbox_open_easy(plain.data(), sealed.data() + kBoxOffset, sealed.size() - kBoxOffset,
                                   sealed.data() + kNonceOffset, key.Data()) != 0) {
        return std::nullopt;
    }
    const std::size_t descriptionSize = plain[0];
    if (1 + descriptionSize > plain.size()) {
        return std::nullopt;
    }
    if (description != nullptr) {
        description->assign(plain.begin() + 1, plain.begin() + 1 + static_cast<std::ptrdiff_t>(descriptionSize));
    }
    Bytes data(plain.begin() + 1 + static_cast<std::ptrdiff_t>(descriptionSize), plain.end());
    sodium_memzero(plain.data(), plain.size());
    return data;
}
