#include "bookmarks/recorddb/RecordDb.h"

#include "bookmarks/recorddb/TableList.h"
#include "runtime/FatalError.h"
#include "runtime/Gbk.h"

#include <atomic>

namespace RecordDb {

namespace {

std::atomic<int> lockWaitMs{0};

// Sets the thread's code and tells whether it is success.
bool Report(int code) {
    SetLastError(code);
    return code == kOk;
}

} // namespace

int LockWaitMs() {
    return lockWaitMs.load();
}

void SetLockWaitMs(int milliseconds) {
    lockWaitMs.store(milliseconds < -1 ? -1 : milliseconds);
}

bool Open(std::string_view fileName, std::string_view alias, bool readOnly, ShareMode shareMode,
          const std::optional<std::string>& password, const std::vector<std::string>& indexFiles) {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    const OpenRequest request{std::string(fileName), std::string(alias), readOnly, shareMode, password, indexFiles};
    std::unique_ptr<Table> table;
    const int code = Table::Open(
        request, [&](const Platform::FileIdentity& identity) { return list.IsOpen(identity); }, LockWaitMs(), table);
    if (code == kOk) {
        list.Add(std::move(table));
    }
    return Report(code);
}

void Close(std::string_view name) {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    list.Close(name);
}

void CloseAll() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    list.CloseAll();
}

int RecordCount() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    if (table == nullptr) {
        Report(kErrNoCurrentTable);
        return 0;
    }
    std::int32_t count = 0;
    Report(table->RecordCount(LockWaitMs(), count));
    return count;
}

bool GoTo(int n) {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    return Report(table == nullptr ? kErrNoCurrentTable : table->GoTo(n));
}

bool Skip(int n) {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    return Report(table == nullptr ? kErrNoCurrentTable : table->Skip(n));
}

bool AppendBlank() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    return Report(table == nullptr ? kErrNoCurrentTable : table->AppendBlank(LockWaitMs()));
}

Value ReadField(std::string_view fieldName) {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    std::unique_lock guard(list.Mutex());
    Table* table = list.Current();
    const FieldDescriptor* field = table != nullptr ? table->FindField(fieldName) : nullptr;
    if (field == nullptr) {
        // The fatal-error dialog may run an event loop; nothing of the engine stays locked meanwhile.
        guard.unlock();
        FatalError(std::nullopt,
                   Gbk::FromUtf8(table == nullptr ? "未指定当前数据库或者指定数据库未打开" : "指定字段不存在"));
    }
    Value value;
    if (!Report(table->ReadField(*field, LockWaitMs(), value))) {
        value = field->EmptyValue();
    }
    return value;
}

bool WriteField(std::string_view fieldName, const Value& value) {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    if (table == nullptr) {
        return Report(kErrNotOpen);
    }
    const FieldDescriptor* field = table->FindField(fieldName);
    if (field == nullptr) {
        return Report(kErrNoSuchField);
    }
    return Report(table->WriteField(*field, value, LockWaitMs()));
}

bool MarkDeleted() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    return Report(table == nullptr ? kErrNoCurrentTable : table->MarkDeleted(LockWaitMs()));
}

bool Pack() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    return Report(table == nullptr ? kErrNoCurrentTable : table->Pack(LockWaitMs()));
}

bool LockTable() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    Table* table = list.Current();
    return Report(table == nullptr ? kErrNoCurrentTable : table->LockTable(LockWaitMs()));
}

void UnlockTable() {
    SetLastError(kOk);
    TableList& list = TableList::Instance();
    const std::lock_guard guard(list.Mutex());
    if (Table* table = list.Current()) {
        table->UnlockTable();
    } else {
        Report(kErrNoCurrentTable);
    }
}

} // namespace RecordDb
