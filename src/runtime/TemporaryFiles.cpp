#include "runtime/TemporaryFiles.h"

#include "runtime/Files.h"

std::string WriteUniqueFile(const std::string& directory, std::string (*nameOf)(std::uint64_t), std::string_view data) {
    // 64 random bits make a name nobody can guess ahead; a few tries outlast any chance collision.
    constexpr int kTries = 8;
    for (int tries = 0; tries < kTries; ++tries) {
        std::uint64_t number = 0;
        if (!RandomBits(number)) {
            return {};
        }
        std::string path = directory + kPathSeparator + nameOf(number);
        switch (WriteNewFile(path, data)) {
        case NewFileResult::Written:
            return path;
        case NewFileResult::Failed:
            return {};
        case NewFileResult::Exists:
            break;
        }
    }
    return {};
}
