// Opens arbitrary bytes as a record database, walks its records reading every field, then changes a record and
// packs, so that no damaged or foreign file can crash the engine or make it allocate without bound.
#include "bookmarks/recorddb/RecordDb.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMostRecordsWalked = 256;
constexpr std::uint32_t kLargestRecordAppended = 1 << 20;

// A scratch directory for the process, removed at exit; plain storage so that it outlives every destructor.
char directory[64] = "/tmp/tolvar-recorddb-fuzz-XXXXXX";

void RemoveDirectory() {
    ::unlink((std::string(directory) + "/f.edb").c_str());
    ::unlink((std::string(directory) + "/f.EDT").c_str());
    ::rmdir(directory);
}

const char* Directory() {
    static const bool made = [] {
        if (::mkdtemp(directory) == nullptr) {
            std::abort();
        }
        std::atexit(RemoveDirectory);
        // Tables with memo fields need their side file to open.
        const int memo =
            ::open((std::string(directory) + "/f.EDT").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (memo < 0 || ::write(memo, "WEDT", 4) != 4) {
            std::abort();
        }
        ::close(memo);
        return true;
    }();
    return made ? directory : nullptr;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0) {
        std::abort();
    }
    while (size > 0) {
        const ssize_t put = ::write(file, data, size);
        if (put <= 0) {
            std::abort();
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    ::close(file);
}

// The field names as the descriptors hold them; only called once Open has accepted them.
std::vector<std::string> FieldNames(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> names;
    const std::uint32_t count =
        data[112] | data[113] << 8 | data[114] << 16 | static_cast<std::uint32_t>(data[115]) << 24;
    for (std::size_t i = 0; i < count && 116 + 72 * (i + 1) <= size; ++i) {
        const char* name = reinterpret_cast<const char*>(data + 116 + 72 * i);
        names.emplace_back(name, ::strnlen(name, 20));
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = std::string(Directory()) + "/f.edb";
    WriteFile(path, data, size);
    RecordDb::SetLockWaitMs(0);
    const bool readOnly = size > 0 && (data[size - 1] & 1) != 0;
    if (!RecordDb::Open(path, {}, readOnly)) {
        return 0;
    }
    const std::vector<std::string> names = FieldNames(data, size);
    std::vector<RecordDb::Value> last(names.size());
    const int count = RecordDb::RecordCount();
    for (int record = 0; record < count && record < kMostRecordsWalked; ++record) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            last[i] = RecordDb::ReadField(names[i]);
        }
        RecordDb::Skip(1);
    }
    // The fuzzer looks for crashes and sanitizer reports; whether each step succeeds does not matter.
    static_cast<void>(RecordDb::GoTo(1));
    static_cast<void>(RecordDb::MarkDeleted());
    // A valid table may have records of up to 2 GiB; appending one would only measure the disk.
    const std::uint32_t recordSize =
        data[24] | data[25] << 8 | data[26] << 16 | static_cast<std::uint32_t>(data[27]) << 24;
    if (recordSize <= kLargestRecordAppended && RecordDb::AppendBlank()) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            static_cast<void>(RecordDb::WriteField(names[i], last[i]));
            RecordDb::ReadField(names[i]);
        }
    }
    static_cast<void>(RecordDb::Pack());
    RecordDb::RecordCount();
    RecordDb::CloseAll();
    return 0;
}
