#include "servers/ServerList.h"

#include <algorithm>
#include <mutex>

struct ServerList::StatusWriter::Shared {
    std::mutex mutex;
    std::vector<Row> rows;
    Id nextId = 1;

    // Ids are handed out in increasing order and rows never move past each other, so the rows stay sorted.
    Row* Find(Id id) {
        const auto at =
            std::lower_bound(rows.begin(), rows.end(), id, [](const Row& row, Id key) { return row.id < key; });
        return at == rows.end() || at->id != id ? nullptr : &*at;
    }
};

bool ServerList::StatusWriter::Set(Id id, ServerStatus status) const {
    // Holding the shared state keeps it alive for the write even if the list goes meanwhile.
    const std::shared_ptr<Shared> shared = shared_.lock();
    if (!shared) {
        return false;
    }
    std::lock_guard lock(shared->mutex);
    Row* row = shared->Find(id);
    if (row == nullptr) {
        return false;
    }
    row->entry.status = status;
    return true;
}

bool ServerList::StatusWriter::SetIfAt(Id id, std::string_view host, std::string_view port, ServerStatus status) const {
    const std::shared_ptr<Shared> shared = shared_.lock();
    if (!shared) {
        return false;
    }
    std::lock_guard lock(shared->mutex);
    Row* row = shared->Find(id);
    if (row == nullptr || row->entry.host != host || row->entry.port != port) {
        return false;
    }
    row->entry.status = status;
    return true;
}

ServerList::ServerList()
    : shared_(std::make_shared<StatusWriter::Shared>()) {}

ServerList::~ServerList() = default;

ServerList::Id ServerList::Append(ServerEntry entry) {
    std::lock_guard lock(shared_->mutex);
    const Id id = shared_->nextId++;
    shared_->rows.push_back({id, std::move(entry)});
    return id;
}

void ServerList::AppendAll(std::vector<ServerEntry> entries) {
    std::lock_guard lock(shared_->mutex);
    shared_->rows.reserve(shared_->rows.size() + entries.size());
    for (ServerEntry& entry : entries) {
        shared_->rows.push_back({shared_->nextId++, std::move(entry)});
    }
}

std::size_t ServerList::Count() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->rows.size();
}

std::optional<ServerEntry> ServerList::EntryAt(std::size_t number) const {
    std::lock_guard lock(shared_->mutex);
    if (number < 1 || number > shared_->rows.size()) {
        return std::nullopt;
    }
    return shared_->rows[number - 1].entry;
}

std::optional<ServerEntry> ServerList::EntryById(Id id) const {
    std::lock_guard lock(shared_->mutex);
    const Row* row = shared_->Find(id);
    return row == nullptr ? std::nullopt : std::optional<ServerEntry>(row->entry);
}

bool ServerList::Replace(std::size_t number, const ServerEntry& texts) {
    std::lock_guard lock(shared_->mutex);
    if (number < 1 || number > shared_->rows.size()) {
        return false;
    }
    ServerEntry& entry = shared_->rows[number - 1].entry;
    const ServerStatus status = entry.status;
    entry = texts;
    entry.status = status;
    return true;
}

bool ServerList::Remove(std::size_t number) {
    std::lock_guard lock(shared_->mutex);
    if (number < 1 || number > shared_->rows.size()) {
        return false;
    }
    shared_->rows.erase(shared_->rows.begin() + static_cast<std::ptrdiff_t>(number - 1));
    return true;
}

bool ServerList::SetStatus(Id id, ServerStatus status) {
    return Writer().Set(id, status);
}

std::vector<ServerEntry> ServerList::Entries() const {
    std::lock_guard lock(shared_->mutex);
    std::vector<ServerEntry> entries;
    entries.reserve(shared_->rows.size());
    for (const Row& row : shared_->rows) {
        entries.push_back(row.entry);
    }
    return entries;
}

std::vector<ServerList::Row> ServerList::Rows() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->rows;
}

ServerList::StatusWriter ServerList::Writer() const {
    return StatusWriter(shared_);
}
