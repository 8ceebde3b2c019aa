#include "servers/ServerEntry.h"

std::string TextsKey(const ServerEntry& entry) {
    std::string key;
    key.reserve(entry.host.size() + entry.port.size() + entry.account.size() + entry.password.size() +
                entry.note.size() + 4);
    for (const std::string* field : {&entry.host, &entry.port, &entry.account, &entry.password}) {
        key.append(*field).push_back('\0');
    }
    return key.append(entry.note);
}

bool SameTexts(const ServerEntry& a, const ServerEntry& b) {
    return a.host == b.host && a.port == b.port && a.account == b.account && a.password == b.password &&
           a.note == b.note;
}
