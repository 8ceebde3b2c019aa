#pragma once

#include "runtime/Bytes.h"

#include <string>

// A fresh directory under /tmp, removed with everything in it when the object goes. With `enter` it is
// also the current directory until then, standing in for the program directory.
class TempDir {
public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string previous_;
};

// Writes `data` as the whole file, creating or truncating it.
void WriteTestFile(const std::string& path, const Bytes& data);
