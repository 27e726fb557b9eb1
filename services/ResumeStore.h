#pragma once
// Resume points: per disc, the title and time where playback was left.
//
// Kept in the per-user database of the registry and settings stores, table
// resume(disc_id TEXT PRIMARY KEY, title INTEGER, time TEXT, updated INTEGER):
// disc_id is the disc's identity (32 lower-case hex digits, see
// DvdEngine::DiscId), time is "hh:mm:ss:ff", updated the write time in
// milliseconds since the epoch. Only the ResumeStore::Kept most recently
// written discs are kept. Rows that do not fit this shape (a damaged value,
// another program's row) are ignored as if missing. Each write is on disk
// when the call returns; failures are silent (a failed read finds nothing).
//
// UI thread only (one object per thread).

#include <QString>
#include <memory>
#include <optional>

namespace velmora {

class StoreDatabase;

struct ResumePoint
{
    int title = 0;       // 1..99
    QString time;        // "hh:mm:ss:ff"
    friend bool operator==(const ResumePoint &, const ResumePoint &) = default;
};

class ResumeStore
{
public:
    static constexpr int Kept = 50;

    // The per-user database file.
    ResumeStore();
    // The database file at databasePath (tests; created if missing).
    explicit ResumeStore(const QString &databasePath);
    ~ResumeStore();
    ResumeStore(const ResumeStore &) = delete;
    ResumeStore &operator=(const ResumeStore &) = delete;

    // True for a well-formed disc id and point.
    static bool isDiscId(const QString &discId);
    static bool isValid(const ResumePoint &point);

    std::optional<ResumePoint> find(const QString &discId);
    // Stores point for the disc (replacing its old one) and drops the oldest
    // discs beyond Kept. False when nothing was written (bad id or point,
    // database unusable).
    bool save(const QString &discId, const ResumePoint &point);
    void clear(const QString &discId);

private:
    std::unique_ptr<StoreDatabase> m_db;
};

} // namespace velmora
