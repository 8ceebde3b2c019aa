#pragma once

#include "TableImage.h"
#include "bookmarks/recorddb/RecordDb.h"
#include "runtime/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>

// Each test runs in its own directory with no table open and no lock waiting.
class RecordDbFixture : public ::testing::Test {
protected:
    void SetUp() override {
        RecordDb::CloseAll();
        RecordDb::SetLockWaitMs(0);
    }
    void TearDown() override {
        RecordDb::CloseAll();
        RecordDb::SetLockWaitMs(0);
    }

    std::string Put(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_.File(name);
        WriteTestFile(path, bytes);
        return path;
    }
    std::string Path(const std::string& name) const { return dir_.File(name); }
    Bytes FileBytes(const std::string& name) const { return ReadWholeFile(dir_.File(name)); }

    TempDir dir_{true};
};
