// SPDX-License-Identifier: LGPL-2.1-or-later
// The settings store on SQLite (one file per root, see settings_store.h).
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/environment.h"
#include "platform/settings_store.h"

namespace lyralink::platform {

namespace {

constexpr int64_t kRootKeyId = 1;
constexpr int kBusyTimeoutMs = 5000;

std::string home_directory() {
  if (auto home = environment_value("HOME"); home && !home->empty()) return *home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/tmp";
}

std::string xdg_directory(const char* variable, const char* fallback_below_home) {
  if (auto dir = environment_value(variable); dir && !dir->empty() && (*dir)[0] == '/') return *dir;
  return home_directory() + "/" + fallback_below_home;
}

// mkdir -p with mode 0700 for the levels it creates.
bool make_directories(const std::string& dir, std::string* error) {
  std::string path;
  size_t pos = 0;
  while (pos <= dir.size()) {
    size_t next = dir.find('/', pos);
    if (next == std::string::npos) next = dir.size();
    path = dir.substr(0, next);
    if (!path.empty() && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      if (error) *error = "mkdir " + path + ": " + std::strerror(errno);
      return false;
    }
    pos = next + 1;
  }
  return true;
}

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, name));"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, NULL, '');";

// One prepared statement, finalised on scope exit.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Statement& bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& bind(int i, std::string_view text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind_blob(int i, std::string_view bytes) {
    // A zero-length blob must still be a blob, not NULL.
    sqlite3_bind_blob(stmt_, i, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
  int64_t column_int(int i) { return sqlite3_column_int64(stmt_, i); }
  std::string column_text(int i) {
    const auto* p = sqlite3_column_text(stmt_, i);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
             : std::string();
  }
  std::string column_blob(int i) {
    const void* p = sqlite3_column_blob(stmt_, i);
    int n = sqlite3_column_bytes(stmt_, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore final : public SettingsStore {
 public:
  explicit SqliteStore(sqlite3* db) : db_(db) {}
  ~SqliteStore() override { sqlite3_close(db_); }

  bool key_exists(std::string_view key) override { return find_key(key).has_value(); }

  bool create_key(std::string_view key) override {
    auto levels = split_key_path(key);
    if (!levels) return fail("");
    if (find_key(key)) return ok();
    return write([&] {
      int64_t id = kRootKeyId;
      for (const auto& level : *levels) {
        auto child = child_key(id, level);
        if (!child) {
          Statement insert(db_, "INSERT INTO keys(parent, name) VALUES(?, ?)");
          if (insert.bind(1, id).bind(2, level).step() != SQLITE_DONE) return false;
          child = sqlite3_last_insert_rowid(db_);
        }
        id = *child;
      }
      return true;
    });
  }

  bool delete_key(std::string_view key, bool with_subkeys) override {
    auto id = find_key(key);
    if (!id || *id == kRootKeyId) return fail("");
    if (!with_subkeys) {
      auto children = subkeys(key);
      if (!children || !children->empty()) return fail("");
    }
    return write([&] {
      Statement del(db_, "DELETE FROM keys WHERE id = ?");
      return del.bind(1, *id).step() == SQLITE_DONE;
    });
  }

  std::optional<std::vector<std::string>> subkeys(std::string_view key) override {
    auto id = find_key(key);
    if (!id) return std::nullopt;
    Statement q(db_, "SELECT name FROM keys WHERE parent = ? ORDER BY name COLLATE NOCASE, name");
    q.bind(1, *id);
    std::vector<std::string> names;
    while (q.step() == SQLITE_ROW) names.push_back(q.column_text(0));
    return names;
  }

  std::optional<std::vector<RegistryValue>> values(std::string_view key) override {
    auto id = find_key(key);
    if (!id) return std::nullopt;
    Statement q(db_, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY seq");
    q.bind(1, *id);
    std::vector<RegistryValue> out;
    while (q.step() == SQLITE_ROW)
      out.push_back(RegistryValue{q.column_text(0), static_cast<RegistryType>(q.column_int(1)), q.column_blob(2)});
    return out;
  }

  std::optional<RegistryValue> get_value(std::string_view key, std::string_view name) override {
    if (!plain_name(name)) return std::nullopt;
    auto id = find_key(key);
    if (!id) return std::nullopt;
    Statement q(db_, "SELECT name, type, data FROM vals WHERE key = ? AND name = ?");
    q.bind(1, *id).bind(2, name);
    if (q.step() != SQLITE_ROW) return std::nullopt;
    return RegistryValue{q.column_text(0), static_cast<RegistryType>(q.column_int(1)), q.column_blob(2)};
  }

  bool set_value(std::string_view key, const RegistryValue& value) override {
    if (!plain_name(value.name)) return fail("");
    auto id = find_key(key);
    if (!id) return fail("");
    return write([&] {
      // An existing value keeps its place in the enumeration and its name.
      Statement update(db_, "UPDATE vals SET type = ?, data = ? WHERE key = ? AND name = ?");
      update.bind(1, static_cast<int64_t>(value.type)).bind_blob(2, value.data).bind(3, *id).bind(4, value.name);
      if (update.step() != SQLITE_DONE) return false;
      if (sqlite3_changes(db_) > 0) return true;
      Statement insert(db_, "INSERT INTO vals(key, name, type, data) VALUES(?, ?, ?, ?)");
      insert.bind(1, *id).bind(2, value.name).bind(3, static_cast<int64_t>(value.type)).bind_blob(4, value.data);
      return insert.step() == SQLITE_DONE;
    });
  }

  bool delete_value(std::string_view key, std::string_view name) override {
    if (!plain_name(name)) return fail("");
    auto id = find_key(key);
    if (!id) return fail("");
    bool deleted = false;
    bool done = write([&] {
      Statement del(db_, "DELETE FROM vals WHERE key = ? AND name = ?");
      if (del.bind(1, *id).bind(2, name).step() != SQLITE_DONE) return false;
      deleted = sqlite3_changes(db_) > 0;
      return true;
    });
    return done && (deleted || fail(""));
  }

  std::string last_error() const override { return error_; }

 private:
  bool ok() {
    error_.clear();
    return true;
  }
  bool fail(std::string why) {
    error_ = std::move(why);
    return false;
  }

  // Value names, like key levels, hold no zero byte (see split_key_path).
  static bool plain_name(std::string_view name) { return name.find('\0') == std::string_view::npos; }

  std::optional<int64_t> child_key(int64_t parent, std::string_view name) {
    Statement q(db_, "SELECT id FROM keys WHERE parent = ? AND name = ?");
    q.bind(1, parent).bind(2, name);
    if (q.step() != SQLITE_ROW) return std::nullopt;
    return q.column_int(0);
  }

  std::optional<int64_t> find_key(std::string_view key) {
    auto levels = split_key_path(key);
    if (!levels) return std::nullopt;
    int64_t id = kRootKeyId;
    for (const auto& level : *levels) {
      auto child = child_key(id, level);
      if (!child) return std::nullopt;
      id = *child;
    }
    return id;
  }

  // Runs body inside one immediate transaction; rolls back when it fails.
  template <class Body>
  bool write(Body body) {
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
      return fail(std::string("begin: ") + sqlite3_errmsg(db_));
    if (!body()) {
      std::string why = sqlite3_errmsg(db_);
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return fail(why);
    }
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::string why = sqlite3_errmsg(db_);
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return fail("commit: " + why);
    }
    return ok();
  }

  sqlite3* db_;
  std::string error_;
};

}  // namespace

std::string SettingsStore::store_file_path(RegistryRoot root) {
  const char* file = root == RegistryRoot::current_user ? "user.db" : "machine.db";
  if (auto dir = environment_value("LYRALINK_REGISTRY_DIR"); dir && !dir->empty()) return *dir + "/" + file;
  if (root == RegistryRoot::current_user) return xdg_directory("XDG_CONFIG_HOME", ".config") + "/lyralink/" + file;
  if (geteuid() == 0) return std::string("/var/lib/lyralink/") + file;
  return xdg_directory("XDG_DATA_HOME", ".local/share") + "/lyralink/" + file;
}

std::unique_ptr<SettingsStore> SettingsStore::open(RegistryRoot root, std::string* error) {
  return open_file(store_file_path(root), error);
}

std::unique_ptr<SettingsStore> SettingsStore::open_file(const std::string& path, std::string* error) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_directories(path.substr(0, slash), error)) return nullptr;
  // Create the file ourselves so that it is private whatever the umask;
  // SQLite gives its -wal and -shm files the mode of the database file.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = "open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  ::close(fd);
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (error) *error = "sqlite " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  char* message = nullptr;
  // journal_mode is persistent in the file; setting it again is cheap.
  if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", nullptr,
                   nullptr, &message) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, &message) != SQLITE_OK ||
      sqlite3_exec(db, kSchema, nullptr, nullptr, &message) != SQLITE_OK ||
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, &message) != SQLITE_OK) {
    if (error) *error = "sqlite " + path + ": " + (message ? message : "schema");
    sqlite3_free(message);
    sqlite3_close(db);
    return nullptr;
  }
  return std::make_unique<SqliteStore>(db);
}

}  // namespace lyralink::platform
