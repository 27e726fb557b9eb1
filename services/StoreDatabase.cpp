#include "StoreDatabase.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

const char *const Schema = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id   INTEGER PRIMARY KEY,
    root INTEGER NOT NULL,
    path TEXT NOT NULL,
    fold TEXT NOT NULL,
    UNIQUE(root, fold));
CREATE TABLE IF NOT EXISTS reg_values(
    id     INTEGER PRIMARY KEY,
    key_id INTEGER NOT NULL REFERENCES reg_keys(id) ON DELETE CASCADE,
    name   TEXT NOT NULL,
    fold   TEXT NOT NULL,
    type   INTEGER NOT NULL,
    data   TEXT NOT NULL,
    UNIQUE(key_id, fold));
CREATE TABLE IF NOT EXISTS settings(
    app_fold     TEXT NOT NULL,
    section_fold TEXT NOT NULL,
    key_fold     TEXT NOT NULL,
    app          TEXT NOT NULL,
    section      TEXT NOT NULL,
    key          TEXT NOT NULL,
    value        TEXT NOT NULL,
    PRIMARY KEY(app_fold, section_fold, key_fold));
CREATE TABLE IF NOT EXISTS resume(
    disc_id TEXT PRIMARY KEY,
    title   INTEGER,
    time    TEXT,
    updated INTEGER);
)sql";

// Holds an exclusive lock on "<database>.lock" while one process checks the
// file and, if need be, moves it aside: a second player starting at the same
// moment waits, then finds the fresh file instead of moving it aside too.
class OpenLock
{
public:
    explicit OpenLock(const QString &databasePath)
        : m_fd(::open(QFile::encodeName(databasePath + QStringLiteral(".lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        // Bounded like every other wait on the file: a stopped process that
        // holds the lock must not hang the player's start.
        for (int waited = 0; m_fd >= 0 && waited < StoreDatabase::BusyTimeoutMs; waited += 10) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return;
            ::usleep(10 * 1000);
        }
    }
    ~OpenLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    OpenLock(const OpenLock &) = delete;
    OpenLock &operator=(const OpenLock &) = delete;

private:
    int m_fd;
};

// Creates folder and any missing parents as 0700 (QDir::mkpath would use
// 0777 less the umask, and the store is nobody else's business).
void makePrivatePath(const QString &folder)
{
    const QString clean = QDir::cleanPath(folder);
    QString sofar;
    for (const QString &part : clean.split(u'/', Qt::SkipEmptyParts)) {
        sofar += u'/' + part;
        ::mkdir(QFile::encodeName(sofar).constData(), 0700); // EEXIST is fine
    }
}

// Takes group and other bits off an existing file or folder of this user
// (what earlier versions made 0644 and 0755). Links are not followed.
void tighten(const QString &path, mode_t keep)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 07777 & ~keep))
        ::fchmod(fd, st.st_mode & keep);
    ::close(fd);
}

// The store's file exists, 0600, before SQLite opens it: SQLite gives its
// journal files the database's mode.
void makePrivateFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    for (const QString &file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm"),
                                path + QStringLiteral(".lock")})
        tighten(file, 0600);
}

bool isBroken(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

} // namespace

void StoreDatabase::Closer::operator()(sqlite3 *db) const
{
    sqlite3_close_v2(db);
}

StoreDatabase::StoreDatabase(QString path) : m_path(std::move(path)) {}

StoreDatabase::~StoreDatabase() = default;

sqlite3 *StoreDatabase::connection()
{
    if (!m_db && !open())
        m_db.reset();
    return m_db.get();
}

bool StoreDatabase::open()
{
    const QFileInfo info(m_path);
    makePrivatePath(info.absolutePath());
    // Its own folder (the default path's "velmora") is closed to others too;
    // a folder of another name was chosen by the caller and is left as it is.
    if (info.absoluteDir().dirName() == u"velmora")
        tighten(info.absolutePath(), 0700);
    // Without the lock file (say, a read-only folder) the checks still run.
    const OpenLock lock(m_path);

    // Two attempts: the second one on a fresh file after a broken one was
    // moved aside.
    for (int attempt = 0; attempt < 2; ++attempt) {
        makePrivateFile(m_path);
        sqlite3 *raw = nullptr;
        const int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        m_db.reset(raw); // closes even a handle whose open failed
        if (rc != SQLITE_OK)
            break;
        sqlite3_extended_result_codes(raw, 1);
        sqlite3_busy_timeout(raw, BusyTimeoutMs);

        // The first statements read the file header: a file that is not a
        // database fails here with SQLITE_NOTADB.
        int code = SQLITE_OK;
        {
            Statement wal(raw, "PRAGMA journal_mode=WAL");
            code = wal.ok() ? wal.step() : sqlite3_errcode(raw);
            if (code == SQLITE_ROW)
                code = SQLITE_OK;
        }
        if (code == SQLITE_OK) {
            Statement check(raw, "PRAGMA quick_check");
            code = check.ok() ? check.step() : sqlite3_errcode(raw);
            if (code == SQLITE_ROW)
                code = check.text(0) == QLatin1String("ok") ? SQLITE_OK : SQLITE_CORRUPT;
        }
        if (isBroken(code) && attempt == 0) {
            m_db.reset();
            moveAside();
            continue;
        }
        if (code != SQLITE_OK)
            break;
        // FULL: the WAL is synced at every commit, so a commit that returned
        // survives a kill or a power cut.
        if (!execSql(raw, "PRAGMA synchronous=FULL") || !execSql(raw, "PRAGMA foreign_keys=ON")
            || !prepareSchema())
            break;
        return true;
    }

    if (!m_loggedOpenFailure) {
        m_loggedOpenFailure = true;
        qWarning("velmora: cannot use the settings database %s: %s", qPrintable(m_path),
                 m_db ? sqlite3_errmsg(m_db.get()) : "cannot open");
    }
    m_db.reset();
    return false;
}

bool StoreDatabase::prepareSchema()
{
    sqlite3 *db = m_db.get();
    if (!execSql(db, "BEGIN IMMEDIATE"))
        return false;
    if (!execSql(db, Schema) || !execSql(db, "COMMIT")) {
        execSql(db, "ROLLBACK");
        return false;
    }
    return true;
}

void StoreDatabase::moveAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = m_path + QStringLiteral(".broken-") + stamp;
    // QFile::rename never replaces: an earlier broken copy keeps its name.
    for (int n = 2; QFileInfo::exists(target) && n < 100; ++n)
        target = m_path + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
    // rename() keeps the bytes for whoever wants to look at them. If another
    // player moved the file first, the rename fails and the fresh file is
    // already there.
    if (QFile::rename(m_path, target)) {
        // A journal left beside the broken file belongs to it, not to the new one.
        QFile::rename(m_path + QStringLiteral("-wal"), target + QStringLiteral("-wal"));
        QFile::remove(m_path + QStringLiteral("-shm"));
        qWarning("velmora: %s is not a valid database; moved it to %s and started a new one",
                 qPrintable(m_path), qPrintable(target));
    }
}

bool StoreDatabase::write(const std::function<bool(sqlite3 *)> &body)
{
    sqlite3 *db = connection();
    if (!db)
        return false;
    // IMMEDIATE takes the write lock up front, so a second player waits in
    // the busy handler instead of failing on a lock upgrade half-way.
    if (!execSql(db, "BEGIN IMMEDIATE"))
        return false;
    if (body(db) && execSql(db, "COMMIT"))
        return true;
    execSql(db, "ROLLBACK");
    return false;
}

bool execSql(sqlite3 *db, const char *sql)
{
    return db && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Statement::Statement(sqlite3 *db, const char *sql)
{
    if (db && sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement &Statement::bind(int index, const QString &text)
{
    if (m_stmt) {
        const QByteArray utf8 = text.toUtf8();
        if (sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT)
            != SQLITE_OK)
            m_bindFailed = true;
    }
    return *this;
}

Statement &Statement::bind(int index, qint64 value)
{
    if (m_stmt && sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        m_bindFailed = true;
    return *this;
}

int Statement::step()
{
    if (!m_stmt || m_bindFailed)
        return SQLITE_MISUSE;
    return sqlite3_step(m_stmt);
}

bool Statement::exec()
{
    return step() == SQLITE_DONE;
}

QString Statement::text(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    return QString::fromUtf8(data, size);
}

qint64 Statement::integer(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

} // namespace velmora
