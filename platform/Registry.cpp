#include "platform/Registry.h"

#include <cstring>

#include "platform/RegistryDb.h"

namespace platform {
namespace {

using Mode = TRegistryDb::Mode;

constexpr size_t kMaxKeyNameLength = 255;

// Trims leading and trailing backslashes; an empty component inside the path
// or one longer than a key name may be makes it malformed.
bool NormalisePath(std::string_view path, std::string* out) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    size_t start = 0;
    while (start <= path.size() && !path.empty()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        const size_t length = end - start;
        if (length == 0 || length > kMaxKeyNameLength) return false;
        start = end + 1;
    }
    out->assign(path);
    return true;
}

std::string Join(const std::string& parent, const std::string& child) {
    if (parent.empty()) return child;
    if (child.empty()) return parent;
    return parent + "\\" + child;
}

bool Allows(RegAccess granted, RegAccess needed) {
    return (static_cast<uint32_t>(granted) & static_cast<uint32_t>(needed)) != 0;
}

// Opens the database and confirms that the key still exists.
int OpenKeyDb(TRegistryDb& db, RegHive hive, Mode mode, const std::string& path) {
    int result = db.Open(hive, mode);
    // No database: nothing is stored, and only the root can still be open.
    if (result == kRegNotFound) return path.empty() ? kRegNotFound : kRegKeyDeleted;
    if (result != kRegOk) return result;
    bool exists = false;
    result = db.KeyExists(path, &exists);
    if (result != kRegOk) return result;
    return exists ? kRegOk : kRegKeyDeleted;
}

}  // namespace

int TRegKey::Open(RegHive hive, std::string_view path, RegAccess access) {
    Close();
    std::string normal;
    if (!NormalisePath(path, &normal)) return kRegInvalidParameter;
    TRegistryDb db;
    // The root of a hive exists even before its database does.
    const bool write = Allows(access, RegAccess::Write);
    int result = db.Open(hive, write ? (normal.empty() ? Mode::CreateAndWrite : Mode::Write)
                                     : Mode::Read);
    if (result != kRegOk) return result;
    bool exists = false;
    result = db.KeyExists(normal, &exists);
    if (result != kRegOk) return result;
    if (!exists) return kRegNotFound;
    m_hive = hive;
    m_strPath = std::move(normal);
    m_access = access;
    m_bOpen = true;
    return kRegOk;
}

int TRegKey::Create(RegHive hive, std::string_view path, RegAccess access, bool* created) {
    Close();
    if (created != nullptr) *created = false;
    std::string normal;
    if (!NormalisePath(path, &normal)) return kRegInvalidParameter;
    TRegistryDb db;
    int result = db.Open(hive, Mode::CreateAndWrite);
    if (result != kRegOk) return result;
    bool made = false;
    if (!normal.empty()) {
        result = db.CreateKeyPath(normal, &made);
        if (result != kRegOk) return result;
    }
    result = db.Commit();
    if (result != kRegOk) return result;
    if (created != nullptr) *created = made;
    m_hive = hive;
    m_strPath = std::move(normal);
    m_access = access;
    m_bOpen = true;
    return kRegOk;
}

int TRegKey::CheckAccess(RegAccess needed) const {
    if (!m_bOpen) return kRegInvalidHandle;
    return Allows(m_access, needed) ? kRegOk : kRegAccessDenied;
}

int TRegKey::Query(std::string_view name, RegType expected, std::vector<uint8_t>* data) const {
    if (const int result = CheckAccess(RegAccess::Read); result != kRegOk) return result;
    TRegistryDb db;
    if (const int result = OpenKeyDb(db, m_hive, Mode::Read, m_strPath); result != kRegOk) {
        return result;
    }
    RegType type{};
    const int result = db.GetValue(m_strPath, std::string(name), &type, data);
    if (result != kRegOk) return result;
    return type == expected ? kRegOk : kRegWrongType;
}

int TRegKey::QueryType(std::string_view name, RegType* type) const {
    if (const int result = CheckAccess(RegAccess::Read); result != kRegOk) return result;
    TRegistryDb db;
    if (const int result = OpenKeyDb(db, m_hive, Mode::Read, m_strPath); result != kRegOk) {
        return result;
    }
    std::vector<uint8_t> data;
    return db.GetValue(m_strPath, std::string(name), type, &data);
}

int TRegKey::QueryDword(std::string_view name, uint32_t* value) const {
    std::vector<uint8_t> data;
    const int result = Query(name, RegType::Dword, &data);
    if (result != kRegOk) return result;
    if (data.size() != sizeof *value) return kRegBadDb;
    std::memcpy(value, data.data(), sizeof *value);  // stored little-endian, as read here
    return kRegOk;
}

int TRegKey::QueryString(std::string_view name, std::string* value) const {
    std::vector<uint8_t> data;
    const int result = Query(name, RegType::String, &data);
    if (result == kRegOk) value->assign(data.begin(), data.end());
    return result;
}

int TRegKey::QueryBinary(std::string_view name, std::vector<uint8_t>* value) const {
    return Query(name, RegType::Binary, value);
}

int TRegKey::Set(std::string_view name, RegType type, const void* data, size_t size) const {
    if (const int result = CheckAccess(RegAccess::Write); result != kRegOk) return result;
    TRegistryDb db;
    const Mode mode = m_strPath.empty() ? Mode::CreateAndWrite : Mode::Write;
    if (const int result = OpenKeyDb(db, m_hive, mode, m_strPath); result != kRegOk) return result;
    if (const int result = db.PutValue(m_strPath, std::string(name), type, data, size);
        result != kRegOk) {
        return result;
    }
    return db.Commit();
}

int TRegKey::SetDword(std::string_view name, uint32_t value) const {
    return Set(name, RegType::Dword, &value, sizeof value);
}

int TRegKey::SetString(std::string_view name, std::string_view value) const {
    return Set(name, RegType::String, value.data(), value.size());
}

int TRegKey::SetBinary(std::string_view name, const void* data, size_t size) const {
    if (data == nullptr && size != 0) return kRegInvalidParameter;
    return Set(name, RegType::Binary, data, size);
}

int TRegKey::DeleteValue(std::string_view name) const {
    if (const int result = CheckAccess(RegAccess::Write); result != kRegOk) return result;
    TRegistryDb db;
    if (const int result = OpenKeyDb(db, m_hive, Mode::Write, m_strPath); result != kRegOk) {
        return result;
    }
    if (const int result = db.RemoveValue(m_strPath, std::string(name)); result != kRegOk) {
        return result;
    }
    return db.Commit();
}

int TRegKey::EnumSubKeys(std::vector<std::string>* names) const {
    if (const int result = CheckAccess(RegAccess::Read); result != kRegOk) return result;
    TRegistryDb db;
    if (const int result = OpenKeyDb(db, m_hive, Mode::Read, m_strPath); result != kRegOk) {
        return result;
    }
    return db.ChildNames(m_strPath, names);
}

int TRegKey::EnumValues(std::vector<std::string>* names) const {
    if (const int result = CheckAccess(RegAccess::Read); result != kRegOk) return result;
    TRegistryDb db;
    if (const int result = OpenKeyDb(db, m_hive, Mode::Read, m_strPath); result != kRegOk) {
        return result;
    }
    return db.ValueNames(m_strPath, names);
}

int TRegKey::OpenExistingSubkeyForWrite(TRegistryDb& db, std::string_view subPath,
                                        bool allowSelf, std::string* target,
                                        std::string* sub) const {
    if (const int result = CheckAccess(RegAccess::Write); result != kRegOk) return result;
    if (!NormalisePath(subPath, sub) || (!allowSelf && sub->empty())) {
        return kRegInvalidParameter;
    }
    *target = Join(m_strPath, *sub);
    if (const int result = OpenKeyDb(db, m_hive, Mode::Write, m_strPath); result != kRegOk) {
        return result;
    }
    bool exists = false;
    if (const int result = db.KeyExists(*target, &exists); result != kRegOk) return result;
    return exists ? kRegOk : kRegNotFound;
}

int TRegKey::DeleteKey(std::string_view subPath) const {
    TRegistryDb db;
    std::string target;
    std::string sub;
    if (const int result = OpenExistingSubkeyForWrite(db, subPath, false, &target, &sub);
        result != kRegOk) {
        return result;
    }
    std::vector<std::string> children;
    if (const int result = db.ChildNames(target, &children); result != kRegOk) return result;
    if (!children.empty()) return kRegKeyHasChildren;
    if (const int result = db.RemoveTree(target, false); result != kRegOk) return result;
    return db.Commit();
}

int TRegKey::DeleteTree(std::string_view subPath) const {
    TRegistryDb db;
    std::string target;
    std::string sub;
    if (const int result = OpenExistingSubkeyForWrite(db, subPath, true, &target, &sub);
        result != kRegOk) {
        return result;
    }
    if (const int result = db.RemoveTree(target, sub.empty()); result != kRegOk) return result;
    return db.Commit();
}

}  // namespace platform
