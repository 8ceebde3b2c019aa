#pragma once

#include "bookmarks/recorddb/Table.h"

#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace RecordDb {

// The process's open tables in the order they were opened, and which one is current.
class TableList {
public:
    static TableList& Instance();

    // Held by every engine operation, so tables are never used by two threads at once.
    std::mutex& Mutex() { return mutex_; }

    Table* Current() const { return current_ < 0 ? nullptr : tables_[static_cast<std::size_t>(current_)].get(); }
    bool IsOpen(const Platform::FileIdentity& identity) const;
    // Appends the table and makes it current.
    void Add(std::unique_ptr<Table> table);
    // Closes the table `name` designates: empty for the current one, else its alias, short name or full path.
    void Close(std::string_view name);
    void CloseAll();

private:
    TableList() = default;

    std::mutex mutex_;
    std::vector<std::unique_ptr<Table>> tables_;
    std::ptrdiff_t current_ = -1;
};

} // namespace RecordDb
