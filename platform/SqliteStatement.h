#pragma once
// The engine's thin wrappers over SQLite connections and statements (internal to platform/).

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "store/RegistryEngine.h"

namespace kestrova::sqlite {

// How long a connection waits for another program's lock before it gives up.
constexpr int kBusyTimeoutMs = 8000;

// Holds one SQLite connection for a short task and closes it on every way out.
class Connection {
 public:
  Connection() = default;
  ~Connection() { sqlite3_close_v2(m_db); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  int Open(const std::string& name, int flags);
  sqlite3* get() const { return m_db; }
  int Exec(const std::string& sql) {
    return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
  }

 private:
  sqlite3* m_db = nullptr;
};

// A prepared statement, finalized with its owner.
class Statement {
 public:
  Statement() = default;
  // Throws PrepareError.
  Statement(sqlite3* db, const char* sql, unsigned flags = SQLITE_PREPARE_PERSISTENT);
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : m_stmt(other.m_stmt) { other.m_stmt = nullptr; }
  Statement& operator=(Statement&& other) noexcept {
    std::swap(m_stmt, other.m_stmt);
    return *this;
  }
  sqlite3_stmt* get() const { return m_stmt; }

  // Preparing fails for a missing table in a foreign file as much as for a locked or
  // damaged one; the code tells them apart.
  class PrepareError : public StoreError {
   public:
    PrepareError(const std::string& message, int code) : StoreError(message), m_code(code) {}
    int Code() const { return m_code; }

   private:
    int m_code;
  };

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

// Binds, runs and resets one statement; the reset happens on every way out.
class Run {
 public:
  explicit Run(const Statement& s) : m_stmt(s.get()) {}
  ~Run() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  Run& Int(int i, int64_t v) {
    sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Run& Blob(int i, std::string_view v) {
    // A null pointer would bind SQL NULL instead of an empty blob.
    sqlite3_bind_blob(m_stmt, i, v.data() ? v.data() : "", static_cast<int>(v.size()),
                      SQLITE_STATIC);
    return *this;
  }
  int Step() { return sqlite3_step(m_stmt); }
  int64_t ColInt(int c) const { return sqlite3_column_int64(m_stmt, c); }
  std::string ColBlob(int c) const {
    const void* p = sqlite3_column_blob(m_stmt, c);
    const int n = sqlite3_column_bytes(m_stmt, c);
    return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n))
             : std::string();
  }

 private:
  sqlite3_stmt* m_stmt;
};

}  // namespace kestrova::sqlite
