#include "servers/ServerList.h"

ServerList::Id ServerList::Append(ServerEntry entry) {
    std::lock_guard lock(mutex_);
    const Id id = nextId_++;
    items_.push_back({id, std::move(entry)});
    return id;
}

std::size_t ServerList::Count() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::vector<ServerEntry> ServerList::Entries() const {
    std::lock_guard lock(mutex_);
    std::vector<ServerEntry> entries;
    entries.reserve(items_.size());
    for (const Item& item : items_) {
        entries.push_back(item.entry);
    }
    return entries;
}
