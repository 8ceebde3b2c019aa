#include "support/TempDir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <windows.h>

TempDir::TempDir(bool enter) {
    static std::atomic<unsigned> counter{0};
    std::error_code failed;
    const std::filesystem::path base = std::filesystem::temp_directory_path(failed);
    // The process id keeps two test programs that run at once apart.
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const std::filesystem::path candidate =
            base / ("tolvar-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter));
        if (std::filesystem::create_directory(candidate, failed)) {
            path_ = candidate.generic_string();
        }
    }
    if (path_.empty()) {
        ADD_FAILURE() << "no temporary directory";
        return;
    }
    if (enter) {
        previous_ = std::filesystem::current_path().string();
        std::filesystem::current_path(path_);
    }
}

TempDir::~TempDir() {
    if (!previous_.empty()) {
        std::filesystem::current_path(previous_);
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteTestFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    ASSERT_TRUE(out.good()) << path;
}
