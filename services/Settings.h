#pragma once
// The per-user settings store: text by (application, section, key).
//
// Kept in the same per-user database as the registry store (RegStore.h), in
// its own table, with the same guarantees: each SaveSetting is on disk when it
// returns, two players may share the file, failures are silent (a failed read
// returns the default). Names compare case-insensitively.
//
// The player's one setting: application DvdSettingsApp (or, for the menu's
// Stop, DvdSettingsAppMenuStop), section "Settings", key "DVDDirectory".
//
// UI thread only.

#include <QString>

namespace velmora {

inline const QString DvdSettingsApp = QStringLiteral("DEV Udovezo");
inline const QString DvdSettingsAppMenuStop = QStringLiteral("Devizazor IZO dariruz");
inline const QString DvdSettingsSection = QStringLiteral("Settings");
inline const QString DvdDirectoryKey = QStringLiteral("DVDDirectory");

// The stored text, or def when nothing is stored.
QString GetSetting(const QString &app, const QString &section, const QString &key,
                   const QString &def = QString());
void SaveSetting(const QString &app, const QString &section, const QString &key,
                 const QString &value);

// The same on a database file of the caller's choice (tests).
QString GetSettingIn(const QString &databasePath, const QString &app, const QString &section,
                     const QString &key, const QString &def = QString());
void SaveSettingIn(const QString &databasePath, const QString &app, const QString &section,
                   const QString &key, const QString &value);

// Where the per-user database lives: $XDG_CONFIG_HOME/velmora/velmora.db, else
// ~/.config/velmora/velmora.db. Read from the environment at each call.
QString defaultStorePath();

} // namespace velmora
