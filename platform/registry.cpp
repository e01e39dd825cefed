#include "platform/registry.h"

#include <strings.h>

#include <cstring>

#include "platform/internal/registry_commit.h"
#include "platform/internal/registry_store.h"

namespace kavelo::platform {

using registry_store::AcquireHive;
using registry_store::BeginWrite;
using registry_store::EndWrite;
using registry_store::HiveConnection;
using registry_store::kRootKeyId;
using registry_store::Sql;
using registry_store::Statement;
using registry_store::StatusFromSqlite;
using registry_store::Step;

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr uint32_t kWriteRights = 0x0002 | 0x0004 | 0x00010000;  // set value, create subkey, delete

// Splits a key path into its names.  One trailing "\" is allowed; an empty
// name anywhere else (a leading "\", "\\") makes the path malformed.
long SplitPath(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::string rest = path;
  if (!rest.empty() && rest.back() == '\\') rest.pop_back();
  if (rest.empty()) return path.empty() ? kErrorSuccess : kErrorBadPathname;
  size_t start = 0;
  while (true) {
    size_t end = rest.find('\\', start);
    std::string name =
        rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name.empty()) return kErrorBadPathname;
    if (name.size() > kMaxKeyNameLength || name.find('\0') != std::string::npos) {
      return kErrorInvalidParameter;
    }
    names->push_back(std::move(name));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return kErrorSuccess;
}

bool ValidValueName(const std::string& name) {
  return name.size() <= kMaxValueNameLength && name.find('\0') == std::string::npos;
}

// Walks names from the key start, creating missing keys when create is set
// (the caller holds a write transaction then).
long WalkPath(HiveConnection* conn, int64_t start, const std::vector<std::string>& names,
              bool create, int64_t* id, bool* created) {
  int64_t current = start;
  if (created) *created = false;
  for (const std::string& name : names) {
    int64_t child = 0;
    {
      Statement find(conn, Sql::kFindChild);
      if (!find.get()) return kErrorInvalidData;
      sqlite3_bind_int64(find.get(), 1, current);
      sqlite3_bind_text(find.get(), 2, name.data(), static_cast<int>(name.size()),
                        SQLITE_TRANSIENT);
      int rc = Step(find.get());
      if (rc == SQLITE_ROW) {
        child = sqlite3_column_int64(find.get(), 0);
      } else if (rc != SQLITE_DONE) {
        return StatusFromSqlite(rc);
      }
    }
    if (child == 0) {
      if (!create) return kErrorFileNotFound;
      Statement insert(conn, Sql::kInsertKey);
      if (!insert.get()) return kErrorInvalidData;
      sqlite3_bind_int64(insert.get(), 1, current);
      sqlite3_bind_text(insert.get(), 2, name.data(), static_cast<int>(name.size()),
                        SQLITE_TRANSIENT);
      int rc = Step(insert.get());
      if (rc != SQLITE_DONE) return StatusFromSqlite(rc);
      child = sqlite3_last_insert_rowid(conn->db());
      if (created) *created = true;
    }
    current = child;
  }
  *id = current;
  return kErrorSuccess;
}

}  // namespace

// Fills RegKey handles, whose fields only the registry may set.
class RegistryImpl {
 public:
  static void Fill(RegKey* key, Hive hive, const std::string& path, bool writable, int64_t id) {
    key->open_ = true;
    key->hive_ = hive;
    key->path_ = path;
    if (!key->path_.empty() && key->path_.back() == '\\') key->path_.pop_back();
    key->writable_ = writable;
    key->id_ = id;
  }
  static int64_t Id(const RegKey& key) { return key.id_; }
};

std::string RegistryHiveFile(Hive hive) { return registry_store::HiveFilePath(hive); }

long RegOpenKey(Hive hive, const std::string& path, uint32_t access, RegKey* key) {
  if (!key) return kErrorInvalidParameter;
  key->Close();
  std::vector<std::string> names;
  long status = SplitPath(path, &names);
  if (status != kErrorSuccess) return status;
  HiveConnection* conn = nullptr;
  status = AcquireHive(hive, false, &conn);
  if (status != kErrorSuccess) return status;
  int64_t id = kRootKeyId;
  if (!conn) {
    // An empty hive holds its root key only.
    if (!names.empty()) return kErrorFileNotFound;
  } else {
    status = WalkPath(conn, kRootKeyId, names, false, &id, nullptr);
    if (status != kErrorSuccess) return status;
  }
  RegistryImpl::Fill(key, hive, path, (access & kWriteRights) != 0, id);
  return kErrorSuccess;
}

long RegCreateKey(Hive hive, const std::string& path, uint32_t access, RegKey* key, bool* created) {
  if (!key) return kErrorInvalidParameter;
  key->Close();
  if (created) *created = false;
  std::vector<std::string> names;
  long status = SplitPath(path, &names);
  if (status != kErrorSuccess) return status;
  HiveConnection* conn = nullptr;
  status = AcquireHive(hive, true, &conn);
  if (status != kErrorSuccess) return status;
  int64_t id = kRootKeyId;
  bool made = false;
  // A key that exists already is opened without taking the write lock, so
  // opening a key to write a value does not wait behind a group commit.
  status = WalkPath(conn, kRootKeyId, names, false, &id, nullptr);
  if (status == kErrorSuccess) {
    RegistryImpl::Fill(key, hive, path, (access & kWriteRights) != 0, id);
    return kErrorSuccess;
  }
  if (status != kErrorFileNotFound) return status;
  status = BeginWrite(conn);
  if (status != kErrorSuccess) return status;
  status = EndWrite(conn, WalkPath(conn, kRootKeyId, names, true, &id, &made));
  if (status != kErrorSuccess) return status;
  if (created) *created = made;
  RegistryImpl::Fill(key, hive, path, (access & kWriteRights) != 0, id);
  return kErrorSuccess;
}

// The connection for reading the key's hive.  A hive whose file does not
// exist yet is empty: its root key gives emptyRootStatus, any other key
// kErrorKeyDeleted.  Only kErrorSuccess leaves a connection in *conn.
static long AcquireForRead(const RegKey& key, long emptyRootStatus, HiveConnection** conn) {
  long status = AcquireHive(key.hive(), false, conn);
  if (status != kErrorSuccess) return status;
  if (!*conn) return RegistryImpl::Id(key) == kRootKeyId ? emptyRootStatus : kErrorKeyDeleted;
  return kErrorSuccess;
}

long RegEnumValue(const RegKey& key, uint32_t index, char* name, uint32_t* nameLength,
                  uint32_t* type, uint8_t* data, uint32_t* dataLength) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!name || !nameLength || (data && !dataLength)) return kErrorInvalidParameter;
  HiveConnection* conn = nullptr;
  long status = AcquireForRead(key, kErrorNoMoreItems, &conn);
  if (status != kErrorSuccess) return status;

  Statement stmt(conn, Sql::kEnumValue);
  if (!stmt.get()) return kErrorInvalidData;
  sqlite3_bind_int64(stmt.get(), 1, RegistryImpl::Id(key));
  sqlite3_bind_int64(stmt.get(), 2, index);
  int rc = Step(stmt.get());
  if (rc == SQLITE_DONE) return MissingStatus(conn, RegistryImpl::Id(key), kErrorNoMoreItems);
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);

  const char* storedName = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  uint32_t storedNameLength = static_cast<uint32_t>(sqlite3_column_bytes(stmt.get(), 0));
  uint32_t storedType = static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 1));
  const void* storedData = sqlite3_column_blob(stmt.get(), 2);
  uint32_t storedDataLength = static_cast<uint32_t>(sqlite3_column_bytes(stmt.get(), 2));

  bool nameFits = *nameLength > storedNameLength;
  bool dataFits = !data || *dataLength >= storedDataLength;
  if (type) *type = storedType;
  if (!nameFits || !dataFits) {
    // Report the sizes a retry needs: the name with its NUL, the data.
    *nameLength = storedNameLength + 1;
    if (dataLength) *dataLength = storedDataLength;
    return kErrorMoreData;
  }
  if (storedNameLength) memcpy(name, storedName, storedNameLength);
  name[storedNameLength] = '\0';
  *nameLength = storedNameLength;
  if (data && storedDataLength) memcpy(data, storedData, storedDataLength);
  if (dataLength) *dataLength = storedDataLength;
  return kErrorSuccess;
}

long RegQueryValues(const RegKey& key, std::vector<RegValue>* values) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!values) return kErrorInvalidParameter;
  values->clear();
  HiveConnection* conn = nullptr;
  long status = AcquireHive(key.hive(), false, &conn);
  if (status != kErrorSuccess) return status;
  if (!conn) return RegistryImpl::Id(key) == kRootKeyId ? kErrorSuccess : kErrorKeyDeleted;

  // One statement reads from one snapshot of the hive.
  Statement stmt(conn, Sql::kAllValues);
  if (!stmt.get()) return kErrorInvalidData;
  sqlite3_bind_int64(stmt.get(), 1, RegistryImpl::Id(key));
  int rc;
  while ((rc = Step(stmt.get())) == SQLITE_ROW) {
    RegValue value;
    value.name.assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)),
                      sqlite3_column_bytes(stmt.get(), 0));
    value.type = static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 1));
    const uint8_t* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(stmt.get(), 2));
    value.data.assign(bytes, bytes + sqlite3_column_bytes(stmt.get(), 2));
    values->push_back(std::move(value));
  }
  if (rc != SQLITE_DONE) {
    values->clear();
    return StatusFromSqlite(rc);
  }
  if (values->empty()) return MissingStatus(conn, RegistryImpl::Id(key), kErrorSuccess);
  return kErrorSuccess;
}

long RegQueryValue(const RegKey& key, const std::string& name, uint32_t* type,
                   std::vector<uint8_t>* data) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!ValidValueName(name)) return kErrorInvalidParameter;
  HiveConnection* conn = nullptr;
  long status = AcquireForRead(key, kErrorFileNotFound, &conn);
  if (status != kErrorSuccess) return status;

  Statement stmt(conn, Sql::kQueryValue);
  if (!stmt.get()) return kErrorInvalidData;
  sqlite3_bind_int64(stmt.get(), 1, RegistryImpl::Id(key));
  sqlite3_bind_text(stmt.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  int rc = Step(stmt.get());
  if (rc == SQLITE_DONE) return MissingStatus(conn, RegistryImpl::Id(key), kErrorFileNotFound);
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
  if (type) *type = static_cast<uint32_t>(sqlite3_column_int64(stmt.get(), 0));
  if (data) {
    const uint8_t* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(stmt.get(), 1));
    data->assign(bytes, bytes + sqlite3_column_bytes(stmt.get(), 1));
  }
  return kErrorSuccess;
}

long RegSetDword(const RegKey& key, const std::string& name, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return RegSetValue(key, name, REG_DWORD, bytes, sizeof bytes);
}

uint32_t DwordFromBytes(const uint8_t* data, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size && i < 4; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
  return value;
}

long RegSetValue(const RegKey& key, const std::string& name, uint32_t type, const void* data,
                 uint32_t length) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!key.writable()) return kErrorAccessDenied;
  if (!ValidValueName(name) || (!data && length)) return kErrorInvalidParameter;
  registry_commit::ValueWrite write;
  write.key = RegistryImpl::Id(key);
  write.name = &name;
  write.type = type;
  write.data = data;
  write.length = length;
  return registry_commit::Commit(key.hive(), write);
}

long RegDeleteValue(const RegKey& key, const std::string& name) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!key.writable()) return kErrorAccessDenied;
  if (!ValidValueName(name)) return kErrorInvalidParameter;
  // A hive without a file has nothing to delete and is not created for it.
  HiveConnection* conn = nullptr;
  long status = AcquireForRead(key, kErrorFileNotFound, &conn);
  if (status != kErrorSuccess) return status;
  registry_commit::ValueWrite write;
  write.key = RegistryImpl::Id(key);
  write.name = &name;
  write.erase = true;
  return registry_commit::Commit(key.hive(), write);
}

long RegDeleteTree(const RegKey& key, const std::string& subkey) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!key.writable()) return kErrorAccessDenied;
  std::vector<std::string> names;
  long status = SplitPath(subkey, &names);
  if (status != kErrorSuccess) return status;
  if (names.empty() && RegistryImpl::Id(key) == kRootKeyId) return kErrorAccessDenied;
  HiveConnection* conn = nullptr;
  status = AcquireForRead(key, kErrorFileNotFound, &conn);
  if (status != kErrorSuccess) return status;
  status = AcquireHive(key.hive(), true, &conn);
  if (status != kErrorSuccess) return status;
  status = BeginWrite(conn);
  if (status != kErrorSuccess) return status;
  int64_t target = 0;
  status = WalkPath(conn, RegistryImpl::Id(key), names, false, &target, nullptr);
  if (status == kErrorFileNotFound) {
    status = MissingStatus(conn, RegistryImpl::Id(key), kErrorFileNotFound);
  } else if (status == kErrorSuccess && names.empty()) {
    status = MissingStatus(conn, target, kErrorSuccess);
  }
  for (Sql which : {Sql::kDeleteTreeVals, Sql::kDeleteTreeKeys}) {
    if (status != kErrorSuccess) break;
    Statement stmt(conn, which);
    if (!stmt.get()) {
      status = kErrorInvalidData;
      break;
    }
    sqlite3_bind_int64(stmt.get(), 1, target);
    status = StatusFromSqlite(Step(stmt.get()));
  }
  return EndWrite(conn, status);
}

long RegEnumKey(const RegKey& key, uint32_t index, std::string* name) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (!name) return kErrorInvalidParameter;
  HiveConnection* conn = nullptr;
  long status = AcquireForRead(key, kErrorNoMoreItems, &conn);
  if (status != kErrorSuccess) return status;
  Statement stmt(conn, Sql::kEnumKey);
  if (!stmt.get()) return kErrorInvalidData;
  sqlite3_bind_int64(stmt.get(), 1, RegistryImpl::Id(key));
  sqlite3_bind_int64(stmt.get(), 2, index);
  int rc = Step(stmt.get());
  if (rc == SQLITE_DONE) return MissingStatus(conn, RegistryImpl::Id(key), kErrorNoMoreItems);
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
  name->assign(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)),
               sqlite3_column_bytes(stmt.get(), 0));
  return kErrorSuccess;
}

long RegDeleteKeyValue(Hive hive, const std::string& path, const std::string& name) {
  RegKey key;
  long status = RegOpenKey(hive, path, KEY_WRITE, &key);
  if (status != kErrorSuccess) return status;
  return RegDeleteValue(key, name);
}

const char* RegTypeName(uint32_t type) {
  switch (type) {
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "REG_NONE";
  }
}

bool ParseRegTypeName(const std::string& text, uint32_t* type) {
  static const uint32_t kTypes[] = {REG_NONE,  REG_SZ,       REG_EXPAND_SZ, REG_BINARY,
                                    REG_DWORD, REG_MULTI_SZ, REG_QWORD};
  for (uint32_t candidate : kTypes) {
    if (strcasecmp(text.c_str(), RegTypeName(candidate)) == 0) {
      if (type) *type = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace kavelo::platform
