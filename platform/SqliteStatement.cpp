#include "platform/SqliteStatement.h"

namespace kestrova::sqlite {

int Connection::Open(const std::string& name, int flags) {
  const int rc = sqlite3_open_v2(name.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (m_db) sqlite3_extended_result_codes(m_db, 1);
  return rc;
}

Statement::Statement(sqlite3* db, const char* sql, unsigned flags) {
  if (sqlite3_prepare_v3(db, sql, -1, flags, &m_stmt, nullptr) != SQLITE_OK) {
    const std::string msg = sqlite3_errmsg(db);
    const int rc = sqlite3_extended_errcode(db);
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    throw PrepareError("The store could not prepare a query: " + msg, rc);
  }
}

}  // namespace kestrova::sqlite
