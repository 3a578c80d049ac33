#include "platform/RegistryDb.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/KnownFolders.h"

namespace platform {
namespace {

// How long a call waits for another writer (thread or process) to finish.
constexpr int kBusyTimeoutMs = 10000;

int FromSqlite(int code) {
    switch (code & 0xff) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW:
            return kRegOk;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT:
            return kRegBadDb;
        case SQLITE_CANTOPEN:
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return kRegAccessDenied;
        default:
            return kRegIoFailed;
    }
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::string ParentOf(const std::string& path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string LastComponent(const std::string& path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A prepared statement that finalises itself.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) {
        m_nPrepare = sqlite3_prepare_v2(db, sql, -1, &m_pStmt, nullptr);
    }
    ~TStatement() { sqlite3_finalize(m_pStmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    int PrepareResult() const { return m_nPrepare; }
    void Bind(int index, const std::string& text) {
        sqlite3_bind_text(m_pStmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    void Bind(int index, int64_t number) { sqlite3_bind_int64(m_pStmt, index, number); }
    void BindBlob(int index, const void* data, size_t size) {
        // A zero-length blob, not NULL, also for an empty value.
        sqlite3_bind_blob64(m_pStmt, index, size == 0 ? "" : data, size, SQLITE_TRANSIENT);
    }
    int Step() { return m_nPrepare == SQLITE_OK ? sqlite3_step(m_pStmt) : m_nPrepare; }
    sqlite3_stmt* Get() const { return m_pStmt; }

private:
    sqlite3_stmt* m_pStmt = nullptr;
    int m_nPrepare;
};

// Keys are rows of their own (the root "" is implicit), so empty keys exist
// and subkeys can be listed from the parent column.
constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " path TEXT PRIMARY KEY COLLATE NOCASE,"
    " parent TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(parent);"
    "CREATE TABLE IF NOT EXISTS vals("
    " path TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(path, name)) WITHOUT ROWID;";

}  // namespace

std::string RegistryHiveFile(RegHive hive) {
    return ConfigFolder() + (hive == RegHive::LocalMachine ? "/HKLM.sqlite" : "/HKCU.sqlite");
}

TRegistryDb::~TRegistryDb() {
    if (m_bInTransaction) Exec("ROLLBACK");
    sqlite3_close_v2(m_pDb);
}

int TRegistryDb::Open(RegHive hive, Mode mode) {
    const std::string file = RegistryHiveFile(hive);
    if (mode == Mode::Read) {
        if (!FileExists(file)) {
            m_bEmpty = true;
            return kRegOk;
        }
        const int rc = sqlite3_open_v2(file.c_str(), &m_pDb,
                                       SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) return FromSqlite(rc);
        sqlite3_busy_timeout(m_pDb, kBusyTimeoutMs);
        bool present = false;
        const int result = HasSchema(&present);
        m_bEmpty = !present;
        return result;
    }

    if (mode == Mode::CreateAndWrite) {
        if (!EnsureFolder(ConfigFolder())) return kRegAccessDenied;
    } else if (!FileExists(file)) {
        return kRegNotFound;
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (mode == Mode::CreateAndWrite) flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(file.c_str(), &m_pDb, flags, nullptr);
    if (rc != SQLITE_OK) return FromSqlite(rc);
    if (sqlite3_db_readonly(m_pDb, "main") == 1) return kRegAccessDenied;
    sqlite3_busy_timeout(m_pDb, kBusyTimeoutMs);
    if (const int result = Exec("BEGIN IMMEDIATE"); result != kRegOk) return result;
    m_bInTransaction = true;
    return CreateSchema();
}

int TRegistryDb::Commit() {
    if (!m_bInTransaction) return kRegOk;
    const int result = Exec("COMMIT");
    if (result == kRegOk) m_bInTransaction = false;
    return result;
}

int TRegistryDb::Exec(const char* sql) {
    return FromSqlite(sqlite3_exec(m_pDb, sql, nullptr, nullptr, nullptr));
}

int TRegistryDb::HasSchema(bool* present) {
    TStatement query(m_pDb, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'vals'");
    const int rc = query.Step();
    *present = rc == SQLITE_ROW;
    return FromSqlite(rc);
}

int TRegistryDb::CreateSchema() { return Exec(kSchema); }

int TRegistryDb::KeyExists(const std::string& path, bool* exists) {
    *exists = path.empty();
    if (path.empty() || m_bEmpty) return kRegOk;
    TStatement query(m_pDb, "SELECT 1 FROM keys WHERE path = ?1");
    query.Bind(1, path);
    const int rc = query.Step();
    *exists = rc == SQLITE_ROW;
    return FromSqlite(rc);
}

int TRegistryDb::CreateKeyPath(const std::string& path, bool* created) {
    *created = false;
    // Each prefix of the path in turn: "A", "A\B", "A\B\C".
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find('\\', end + 1);
        const std::string prefix = path.substr(0, end);
        TStatement insert(m_pDb, "INSERT OR IGNORE INTO keys(path, parent, name) VALUES(?1, ?2, ?3)");
        insert.Bind(1, prefix);
        insert.Bind(2, ParentOf(prefix));
        insert.Bind(3, LastComponent(prefix));
        const int rc = insert.Step();
        if (rc != SQLITE_DONE) return FromSqlite(rc);
        *created = sqlite3_changes(m_pDb) > 0;
    }
    return kRegOk;
}

int TRegistryDb::GetValue(const std::string& path, const std::string& name, RegType* type,
                          std::vector<uint8_t>* data) {
    if (m_bEmpty) return kRegNotFound;
    TStatement query(m_pDb, "SELECT type, data FROM vals WHERE path = ?1 AND name = ?2");
    query.Bind(1, path);
    query.Bind(2, name);
    const int rc = query.Step();
    if (rc == SQLITE_DONE) return kRegNotFound;
    if (rc != SQLITE_ROW) return FromSqlite(rc);
    *type = static_cast<RegType>(sqlite3_column_int64(query.Get(), 0));
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(query.Get(), 1));
    const int size = sqlite3_column_bytes(query.Get(), 1);
    data->assign(bytes, bytes + size);
    return kRegOk;
}

int TRegistryDb::PutValue(const std::string& path, const std::string& name, RegType type,
                          const void* data, size_t size) {
    // An upsert keeps the case the value name was first written with.
    TStatement upsert(m_pDb,
                      "INSERT INTO vals(path, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                      "ON CONFLICT(path, name) DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.Bind(1, path);
    upsert.Bind(2, name);
    upsert.Bind(3, static_cast<int64_t>(type));
    upsert.BindBlob(4, data, size);
    return FromSqlite(upsert.Step());
}

int TRegistryDb::RemoveValue(const std::string& path, const std::string& name) {
    TStatement remove(m_pDb, "DELETE FROM vals WHERE path = ?1 AND name = ?2");
    remove.Bind(1, path);
    remove.Bind(2, name);
    const int rc = remove.Step();
    if (rc != SQLITE_DONE) return FromSqlite(rc);
    return sqlite3_changes(m_pDb) > 0 ? kRegOk : kRegNotFound;
}

int TRegistryDb::Names(const char* sql, const std::string& path, std::vector<std::string>* names) {
    names->clear();
    if (m_bEmpty) return kRegOk;
    TStatement query(m_pDb, sql);
    query.Bind(1, path);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query.Get(), 0));
        names->emplace_back(text != nullptr ? text : "");
    }
    return FromSqlite(rc);
}

int TRegistryDb::ChildNames(const std::string& path, std::vector<std::string>* names) {
    return Names("SELECT name FROM keys WHERE parent = ?1 ORDER BY name COLLATE NOCASE", path, names);
}

int TRegistryDb::ValueNames(const std::string& path, std::vector<std::string>* names) {
    return Names("SELECT name FROM vals WHERE path = ?1 ORDER BY name COLLATE NOCASE", path, names);
}

int TRegistryDb::RemoveTree(const std::string& path, bool keepKey) {
    if (path.empty()) return Exec("DELETE FROM vals; DELETE FROM keys;");
    const std::string below = path + "\\";
    TStatement values(m_pDb,
                      "DELETE FROM vals WHERE path = ?1 "
                      "OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
    values.Bind(1, path);
    values.Bind(2, below);
    if (const int rc = values.Step(); rc != SQLITE_DONE) return FromSqlite(rc);
    TStatement keys(m_pDb,
                    "DELETE FROM keys WHERE (path = ?1 AND ?3 = 0) "
                    "OR substr(path, 1, length(?2)) = ?2 COLLATE NOCASE");
    keys.Bind(1, path);
    keys.Bind(2, below);
    keys.Bind(3, int64_t{keepKey ? 1 : 0});
    return FromSqlite(keys.Step());
}

}  // namespace platform
