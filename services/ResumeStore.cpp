#include "ResumeStore.h"

#include "Settings.h"
#include "StoreDatabase.h"
#include "engine/TimeCode.h"

#include <QDateTime>
#include <QRegularExpression>

#include <sqlite3.h>

namespace velmora {

ResumeStore::ResumeStore() : ResumeStore(defaultStorePath()) {}

ResumeStore::ResumeStore(const QString &databasePath) : m_db(std::make_unique<StoreDatabase>(databasePath)) {}

ResumeStore::~ResumeStore() = default;

bool ResumeStore::isDiscId(const QString &discId)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{32}$"));
    return hex.match(discId).hasMatch();
}

bool ResumeStore::isValid(const ResumePoint &point)
{
    // fromText insists on the full "hh:mm:ss:ff" shape with valid fields.
    return point.title >= 1 && point.title <= 99 && TimeCode::fromText(point.time).has_value();
}

std::optional<ResumePoint> ResumeStore::find(const QString &discId)
{
    if (!isDiscId(discId))
        return std::nullopt;
    sqlite3 *db = m_db->connection();
    if (!db)
        return std::nullopt;
    // typeof: a title stored as text or a real by someone else is not ours.
    Statement select(db, "SELECT title, typeof(title), time, typeof(time) FROM resume WHERE disc_id = ?1");
    select.bind(1, discId);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    if (select.text(1) != QLatin1String("integer") || select.text(3) != QLatin1String("text"))
        return std::nullopt;
    const qint64 title = select.integer(0);
    ResumePoint point{title >= 1 && title <= 99 ? int(title) : 0, select.text(2)};
    if (!isValid(point))
        return std::nullopt;
    return point;
}

bool ResumeStore::save(const QString &discId, const ResumePoint &point)
{
    if (!isDiscId(discId) || !isValid(point))
        return false;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return m_db->write([&](sqlite3 *db) {
        // updated rises with every write even within one millisecond (or
        // after the clock went back), so "most recent" is always the last written.
        Statement upsert(db, "INSERT INTO resume(disc_id, title, time, updated) VALUES(?1, ?2, ?3, "
                             "MAX(?4, COALESCE((SELECT MAX(updated) FROM resume WHERE typeof(updated) = 'integer'), 0) + 1)) "
                             "ON CONFLICT(disc_id) DO UPDATE SET title = ?2, time = ?3, updated = excluded.updated");
        upsert.bind(1, discId).bind(2, qint64(point.title)).bind(3, point.time).bind(4, now);
        if (!upsert.exec())
            return false;
        Statement prune(db, "DELETE FROM resume WHERE disc_id NOT IN "
                            "(SELECT disc_id FROM resume ORDER BY updated DESC LIMIT ?1)");
        prune.bind(1, qint64(Kept));
        return prune.exec();
    });
}

void ResumeStore::clear(const QString &discId)
{
    if (!isDiscId(discId))
        return;
    m_db->write([&](sqlite3 *db) {
        Statement remove(db, "DELETE FROM resume WHERE disc_id = ?1");
        remove.bind(1, discId);
        return remove.exec();
    });
}

} // namespace velmora
