#include "Settings.h"

#include "StoreDatabase.h"

#include <QDir>
#include <memory>

#include <sqlite3.h>

namespace velmora {

namespace {

QString readSetting(StoreDatabase &store, const QString &app, const QString &section,
                    const QString &key, const QString &def)
{
    Statement read(store.connection(), "SELECT value FROM settings WHERE app_fold = ?1 AND "
                                       "section_fold = ?2 AND key_fold = ?3");
    read.bind(1, app.toCaseFolded()).bind(2, section.toCaseFolded()).bind(3, key.toCaseFolded());
    if (read.step() == SQLITE_ROW)
        return read.text(0);
    return def;
}

void writeSetting(StoreDatabase &store, const QString &app, const QString &section,
                  const QString &key, const QString &value)
{
    store.write([&](sqlite3 *db) {
        Statement upsert(db, "INSERT INTO settings(app_fold, section_fold, key_fold, app, section, "
                             "key, value) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) "
                             "ON CONFLICT(app_fold, section_fold, key_fold) "
                             "DO UPDATE SET value = excluded.value");
        upsert.bind(1, app.toCaseFolded()).bind(2, section.toCaseFolded())
            .bind(3, key.toCaseFolded()).bind(4, app).bind(5, section).bind(6, key).bind(7, value);
        return upsert.exec();
    });
}

// The connection to the per-user file, reopened when the environment points
// somewhere else.
StoreDatabase &userStore()
{
    static std::unique_ptr<StoreDatabase> store;
    const QString path = defaultStorePath();
    if (!store || store->path() != path)
        store = std::make_unique<StoreDatabase>(path);
    return *store;
}

} // namespace

QString defaultStorePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules ignore a relative value.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velmora/velmora.db");
}

QString GetSetting(const QString &app, const QString &section, const QString &key,
                   const QString &def)
{
    return readSetting(userStore(), app, section, key, def);
}

void SaveSetting(const QString &app, const QString &section, const QString &key,
                 const QString &value)
{
    writeSetting(userStore(), app, section, key, value);
}

QString GetSettingIn(const QString &databasePath, const QString &app, const QString &section,
                     const QString &key, const QString &def)
{
    StoreDatabase store(databasePath);
    return readSetting(store, app, section, key, def);
}

void SaveSettingIn(const QString &databasePath, const QString &app, const QString &section,
                   const QString &key, const QString &value)
{
    StoreDatabase store(databasePath);
    writeSetting(store, app, section, key, value);
}

} // namespace velmora
