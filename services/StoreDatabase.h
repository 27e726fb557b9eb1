#pragma once
// Internal: the per-user SQLite database behind the registry and settings
// stores. Not part of the services' public interface.
//
// One StoreDatabase owns one connection to one file, opened on first use.
// The file is created with its tables when missing. Writes go through
// write(), one transaction each, durable when it returns (WAL journal,
// synchronous=FULL). Another process may hold the file: every statement
// waits up to BusyTimeoutMs for it. A file that is not a database (or fails
// SQLite's quick check) is renamed to "<name>.broken-<yyyyMMdd-hhmmss>" and a
// fresh database is started in its place; that is logged once. Opening holds
// an exclusive lock on "<name>.lock", so two processes never both recover.
// When the file cannot be opened at all (say, an unwritable folder) every
// call fails quietly and opening is retried on the next call; logged once
// per object.
//
// Privacy: what the store holds (the folders a user played) is for that user
// alone. Missing folders are created 0700, the file and its journal and lock
// files 0600; an existing file, its companions and the store's own folder
// ("velmora", as in the default path) lose their group and other bits on
// the first open.
//
// Not thread-safe: one thread per object.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

class StoreDatabase
{
public:
    static constexpr int BusyTimeoutMs = 10000;

    explicit StoreDatabase(QString path);
    ~StoreDatabase();
    StoreDatabase(const StoreDatabase &) = delete;
    StoreDatabase &operator=(const StoreDatabase &) = delete;

    const QString &path() const { return m_path; }

    // The open connection, or nullptr when the file cannot be used now.
    sqlite3 *connection();

    // Runs body inside BEGIN IMMEDIATE .. COMMIT. body returns false to roll
    // back. True when the transaction committed.
    bool write(const std::function<bool(sqlite3 *)> &body);

private:
    bool open();
    bool prepareSchema();
    void moveAside();

    struct Closer { void operator()(sqlite3 *db) const; };
    QString m_path;
    std::unique_ptr<sqlite3, Closer> m_db;
    bool m_loggedOpenFailure = false;
};

// A prepared statement, finalized when it goes out of scope.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    // Binds parameter index (1-based). Returns *this for chaining; a failed
    // bind makes step() fail.
    Statement &bind(int index, const QString &text);
    Statement &bind(int index, qint64 value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // step() expecting no row: true on SQLITE_DONE.
    bool exec();
    QString text(int column) const;
    qint64 integer(int column) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
    bool m_bindFailed = false;
};

// Runs sql (no results) on db; true on success.
bool execSql(sqlite3 *db, const char *sql);

} // namespace velmora
