#include "bookmarks/recorddb/TableList.h"

#include "bookmarks/recorddb/ErrorCodes.h"
#include "runtime/Gbk.h"

namespace RecordDb {

TableList& TableList::Instance() {
    static TableList list;
    return list;
}

bool TableList::IsOpen(const Platform::FileIdentity& identity) const {
    for (const auto& table : tables_) {
        if (table->Identity() == identity) {
            return true;
        }
    }
    return false;
}

void TableList::Add(std::unique_ptr<Table> table) {
    tables_.push_back(std::move(table));
    current_ = static_cast<std::ptrdiff_t>(tables_.size()) - 1;
}

void TableList::Close(std::string_view name) {
    std::ptrdiff_t found = -1;
    if (name.empty()) {
        found = current_;
    } else {
        // Aliases first, then short names, then full paths; the latest opened wins within each.
        const std::string& (Table::*const keys[])() const = {&Table::Alias, &Table::ShortName, &Table::FullPath};
        for (const auto key : keys) {
            for (auto i = static_cast<std::ptrdiff_t>(tables_.size()) - 1; i >= 0 && found < 0; --i) {
                const std::string& candidate = (tables_[static_cast<std::size_t>(i)].get()->*key)();
                if (!candidate.empty() && Gbk::EqualsIgnoreCase(candidate, name)) {
                    found = i;
                }
            }
            if (found >= 0) {
                break;
            }
        }
        // A path spelt another way ("C:\\dir/websc.edb" on Windows) still names the table it opened.
        int error = kOk;
        if (const auto fullPath = found < 0 ? Platform::FullPath(name, error) : std::nullopt) {
            for (auto i = static_cast<std::ptrdiff_t>(tables_.size()) - 1; i >= 0 && found < 0; --i) {
                if (Gbk::EqualsIgnoreCase(tables_[static_cast<std::size_t>(i)]->FullPath(), *fullPath)) {
                    found = i;
                }
            }
        }
    }
    if (found < 0) {
        return;
    }
    tables_.erase(tables_.begin() + found);
    if (found == current_) {
        current_ = -1;
    } else if (found < current_) {
        --current_;
    }
}

void TableList::CloseAll() {
    tables_.clear();
    current_ = -1;
}

} // namespace RecordDb
