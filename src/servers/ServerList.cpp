#include "servers/ServerList.h"

ServerList::Id ServerList::Append(ServerEntry entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    ids_.push_back(nextId_);
    return nextId_++;
}

void ServerList::AppendAll(std::vector<ServerEntry> entries) {
    std::lock_guard lock(mutex_);
    if (entries_.empty()) {
        entries_ = std::move(entries);
    } else {
        entries_.insert(entries_.end(), std::make_move_iterator(entries.begin()),
                        std::make_move_iterator(entries.end()));
    }
    while (ids_.size() < entries_.size()) {
        ids_.push_back(nextId_++);
    }
}

std::size_t ServerList::Count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::vector<ServerEntry> ServerList::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}
