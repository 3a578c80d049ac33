#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"

struct sqlite3;

namespace platform {

// One connection to a hive's database for the span of one registry call.
// Opening for writing starts an immediate transaction (so two writers queue up
// instead of failing half-way); the destructor rolls back whatever was not
// committed and closes the connection. Paths passed in are normalised key
// paths; every method returns a RegResult.
class TRegistryDb {
public:
    enum class Mode {
        Read,           // a missing database file reads as an empty hive
        Write,          // the database must exist
        CreateAndWrite  // creates the folder and the database when missing
    };

    TRegistryDb() = default;
    ~TRegistryDb();
    TRegistryDb(const TRegistryDb&) = delete;
    TRegistryDb& operator=(const TRegistryDb&) = delete;

    int Open(RegHive hive, Mode mode);
    int Commit();

    // The root key "" always exists.
    int KeyExists(const std::string& path, bool* exists);
    int CreateKeyPath(const std::string& path, bool* created);
    int GetValue(const std::string& path, const std::string& name, RegType* type,
                 std::vector<uint8_t>* data);
    int PutValue(const std::string& path, const std::string& name, RegType type,
                 const void* data, size_t size);
    int RemoveValue(const std::string& path, const std::string& name);
    int ChildNames(const std::string& path, std::vector<std::string>* names);
    int ValueNames(const std::string& path, std::vector<std::string>* names);
    // Removes the key's values and all keys below it; the key itself too
    // unless keepKey.
    int RemoveTree(const std::string& path, bool keepKey);

private:
    int HasSchema(bool* present);
    int CreateSchema();
    int Exec(const char* sql);
    int Names(const char* sql, const std::string& path, std::vector<std::string>* names);

    sqlite3* m_pDb = nullptr;
    bool m_bEmpty = false;  // read mode on a hive that has no database yet
    bool m_bInTransaction = false;
};

}  // namespace platform
