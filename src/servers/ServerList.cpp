#include "servers/ServerList.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

struct ServerList::StatusWriter::Shared {
    std::mutex mutex;
    std::vector<Row> rows;
    Id nextId = 1;
    // Ids are handed out in increasing order, so while rows are only appended and removed they stay sorted by id;
    // a list taken over from the file may put a new entry before older ones, and then this finds them.
    std::unordered_map<Id, std::size_t> positions;

    Row* Find(Id id) {
        if (positions.empty()) {
            const auto at =
                std::lower_bound(rows.begin(), rows.end(), id, [](const Row& row, Id key) { return row.id < key; });
            return at == rows.end() || at->id != id ? nullptr : &*at;
        }
        const auto found = positions.find(id);
        return found == positions.end() ? nullptr : &rows[found->second];
    }

    // Called after any change that may leave the rows out of id order.
    void Reindex() {
        positions.clear();
        if (std::is_sorted(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.id < b.id; })) {
            return;
        }
        positions.reserve(rows.size());
        for (std::size_t at = 0; at < rows.size(); ++at) {
            positions.emplace(rows[at].id, at);
        }
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
    if (!shared_->positions.empty()) {
        shared_->positions.emplace(id, shared_->rows.size() - 1);
    }
    return id;
}

void ServerList::AppendAll(std::vector<ServerEntry> entries) {
    std::lock_guard lock(shared_->mutex);
    shared_->rows.reserve(shared_->rows.size() + entries.size());
    for (ServerEntry& entry : entries) {
        shared_->rows.push_back({shared_->nextId++, std::move(entry)});
    }
    shared_->Reindex();
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
    shared_->Reindex();
    return true;
}

std::vector<ServerList::Id> ServerList::TakeOver(const std::vector<ServerEntry>& entries) {
    std::lock_guard lock(shared_->mutex);
    std::vector<Row>& old = shared_->rows;
    // Another window's save changes an entry or two of a long list: what stays the same at either end is
    // matched as it stands, and only the rest goes through the lookup by texts.
    std::size_t front = 0;
    while (front < old.size() && front < entries.size() && SameTexts(old[front].entry, entries[front])) {
        ++front;
    }
    std::size_t back = 0;
    while (back < old.size() - front && back < entries.size() - front &&
           SameTexts(old[old.size() - 1 - back].entry, entries[entries.size() - 1 - back])) {
        ++back;
    }
    // The middle rows of each text, first to last, so that copies of one entry keep their identities in order.
    std::unordered_map<std::string, std::deque<std::size_t>> byTexts;
    for (std::size_t at = front; at < old.size() - back; ++at) {
        byTexts[TextsKey(old[at].entry)].push_back(at);
    }
    std::vector<Row> rows;
    rows.reserve(entries.size());
    std::vector<Id> added;
    for (std::size_t at = 0; at < entries.size(); ++at) {
        if (at < front) {
            rows.push_back(std::move(old[at]));
            continue;
        }
        if (at >= entries.size() - back) {
            rows.push_back(std::move(old[old.size() - (entries.size() - at)]));
            continue;
        }
        const auto found = byTexts.find(TextsKey(entries[at]));
        if (found != byTexts.end() && !found->second.empty()) {
            rows.push_back(std::move(old[found->second.front()]));
            found->second.pop_front();
            continue;
        }
        ServerEntry fresh = entries[at];
        fresh.status = ServerStatus::Unknown;
        rows.push_back({shared_->nextId++, std::move(fresh)});
        added.push_back(rows.back().id);
    }
    old = std::move(rows);
    shared_->Reindex();
    return added;
}

std::vector<ServerList::Id> ServerList::Ids() const {
    std::lock_guard lock(shared_->mutex);
    std::vector<Id> ids;
    ids.reserve(shared_->rows.size());
    for (const Row& row : shared_->rows) {
        ids.push_back(row.id);
    }
    return ids;
}

std::optional<std::size_t> ServerList::NumberOf(Id id) const {
    std::lock_guard lock(shared_->mutex);
    const Row* row = shared_->Find(id);
    return row == nullptr ? std::nullopt : std::optional<std::size_t>(row - shared_->rows.data() + 1);
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
