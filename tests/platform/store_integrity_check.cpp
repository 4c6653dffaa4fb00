// A second process for the store tests: prints SQLite's integrity check of a database,
// read the way any other program would read it.

#include <sqlite3.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return 3;
  sqlite3_busy_timeout(db, 8000);
  sqlite3_stmt* stmt = nullptr;
  int status = 4;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::printf("%s\n", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
      status = 0;
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return status;
}
