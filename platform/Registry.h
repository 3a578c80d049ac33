#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class TRegistryDb;

// The registry: two hives of keys with subkeys and typed values, each hive one
// SQLite database under ConfigFolder() ("HKLM.sqlite", "HKCU.sqlite"). Every
// operation opens the database, does its work and closes it again, so values
// written by one process or thread are seen by the next read of any other;
// every write is one transaction.
//
// Key paths are written as on Windows, components separated by backslashes
// ("SOFTWARE\Quindle"); leading and trailing backslashes are ignored and the
// empty path is the hive's root. Key and value names compare without regard
// to ASCII case and keep the case they were created with. Value names may hold
// any character, also "/" and "\". The empty value name is the key's default
// value.
//
// Result codes follow the Windows error numbers, so code written against the
// Windows registry reads the same; no operation throws.

enum class RegHive { LocalMachine, CurrentUser };

enum RegResult : int32_t {
    kRegOk = 0,
    kRegNotFound = 2,            // no such key or value
    kRegAccessDenied = 5,        // the hive cannot be written, or the key was not opened for it
    kRegInvalidHandle = 6,       // the key is not open
    kRegInvalidParameter = 87,   // malformed key path
    kRegBadDb = 1009,            // the hive's database file is damaged; it is left as it is
    kRegIoFailed = 1016,         // any other storage failure (disk full, locked past the time-out)
    kRegKeyDeleted = 1018,       // the open key has been deleted meanwhile
    kRegKeyHasChildren = 1020,   // DeleteKey on a key that still has subkeys
    kRegWrongType = 1630,        // the value exists with another type
};

enum class RegType : uint32_t {
    String = 1,  // REG_SZ, UTF-8 here
    Binary = 3,  // REG_BINARY
    Dword = 4,   // REG_DWORD
};

enum class RegAccess : uint32_t {
    Read = 1,   // query and enumerate
    Write = 2,  // set and delete values, create and delete subkeys
    All = 3,
};

// "HKLM.sqlite" or "HKCU.sqlite" under ConfigFolder().
std::string RegistryHiveFile(RegHive hive);

// An open key: the hive, the path and the access it was opened with. It holds
// no database connection between calls.
class TRegKey {
public:
    TRegKey() = default;
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;
    TRegKey(TRegKey&& other) noexcept = default;
    TRegKey& operator=(TRegKey&& other) noexcept = default;

    // An existing key. Write access needs a writable hive.
    int Open(RegHive hive, std::string_view path, RegAccess access);
    // Creates the key and any missing parents, or opens it when it exists.
    // *created (optional) tells which.
    int Create(RegHive hive, std::string_view path, RegAccess access, bool* created = nullptr);
    void Close() { m_bOpen = false; }
    bool IsOpen() const { return m_bOpen; }
    const std::string& Path() const { return m_strPath; }

    int QueryType(std::string_view name, RegType* type) const;
    int QueryDword(std::string_view name, uint32_t* value) const;
    int QueryString(std::string_view name, std::string* value) const;
    int QueryBinary(std::string_view name, std::vector<uint8_t>* value) const;

    int SetDword(std::string_view name, uint32_t value) const;
    int SetString(std::string_view name, std::string_view value) const;
    int SetBinary(std::string_view name, const void* data, size_t size) const;
    int DeleteValue(std::string_view name) const;

    // Direct subkeys and value names, sorted without regard to case.
    int EnumSubKeys(std::vector<std::string>* names) const;
    int EnumValues(std::vector<std::string>* names) const;

    // Deletes the subkey (a relative path) with its values; refused while it
    // has subkeys of its own.
    int DeleteKey(std::string_view subPath) const;
    // Deletes the subkey and everything below it; an empty subPath deletes
    // this key's values and subkeys but keeps the key.
    int DeleteTree(std::string_view subPath) const;

private:
    int Query(std::string_view name, RegType expected, std::vector<uint8_t>* data) const;
    int Set(std::string_view name, RegType type, const void* data, size_t size) const;
    int CheckAccess(RegAccess needed) const;
    // Opens the hive for writing and checks that the subkey exists; fills
    // *target with its full path.
    int OpenExistingSubkeyForWrite(TRegistryDb& db, std::string_view subPath, bool allowSelf,
                                   std::string* target, std::string* sub) const;

    RegHive m_hive = RegHive::CurrentUser;
    std::string m_strPath;
    RegAccess m_access = RegAccess::Read;
    bool m_bOpen = false;
};

}  // namespace platform
