#pragma once
// The player's small hierarchical per-user store ("the registry").
//
// Keys live under four root names, compared case-insensitively:
//   "hkcr", "hkcu", "hklm", "hkcc".
// Any other root name addresses nothing: every operation on it does nothing
// and every read returns what a missing value returns.
// Key paths are '\'-separated ("Software\Halvex\2007"); key and value names
// compare case-insensitively and keep the case they were first written with.
// Values are strings. Values of one key enumerate in the order they were
// created (replacing a value keeps its place).
//
// Backing: one SQLite file per user, $XDG_CONFIG_HOME/velmora/velmora.db
// (else ~/.config/velmora/velmora.db), shared with the settings store
// (Settings.h). Every write is its own transaction and is on disk when the
// call returns, so an immediate process exit loses nothing; two players may
// use the file at once. A file that is not a database is moved aside (its
// name gets ".broken-<timestamp>") and a fresh one is started; this is logged
// once. Failures are never reported to the caller: a failed write has no
// effect, a failed read returns what a missing value returns.
//
// UI thread only (no locking; a store object is not shared between threads).

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

namespace velmora {

class StoreDatabase;

class reg
{
public:
    // Uses the per-user database file (the same one as the settings store).
    reg();
    // Uses the database file at databasePath (tests; created if missing).
    explicit reg(const QString &databasePath);
    ~reg();
    reg(const reg &) = delete;
    reg &operator=(const reg &) = delete;

    // ---- Favourites: string values under "Software\Halvex\2007\favoritos" ----
    // The path stored for favourite name (spaces trimmed), or "".
    QString Favorito(const QString &name);
    // Adds or replaces favourite name.
    void AdicionarFavorito(const QString &name, const QString &path);
    void RemoverFavorito(const QString &name);
    // Removes every favourite that EnumFavoritos lists.
    void LimparFavoritos();
    // The favourite names in the order they were added. Stops early (returning
    // what it has) at a name that does not fit 260 bytes with its NUL or data
    // that does not fit 4000 bytes with its NUL. Lets the event loop run once
    // per name.
    QStringList EnumFavoritos();

    // The canonical absolute path of an existing path ("" when it does not
    // exist). Linux has no short names; no length cap.
    QString Short(const QString &path);

    // ---- Values ----
    // Creates subkey (and its parents) when needed and writes value.
    void CreateValue(const QString &root, const QString &subkey, const QString &valueName,
                     const QString &value);
    // The stored text as read into a 260-byte buffer, spaces trimmed at both
    // ends: a value shorter than 260 bytes (UTF-8) comes back followed by NUL
    // characters up to 260 bytes (so only its leading spaces go; a missing
    // value is 260 NULs), and callers cut it with CutAtNull. A longer value
    // comes back whole, without padding.
    QString GetValue(const QString &root, const QString &subkey, const QString &valueName);

    // ---- The settings key "Software\Halvex\2007" under "hkcu" ----
    void WriteKey(const QString &key, const QString &value);
    // The stored value (cut at its first NUL, otherwise untrimmed), or def when
    // it is missing or blank.
    QString LoadKey(const QString &key, const QString &def);
    void DelKey(const QString &key);

    // The root handle of a root name (0x80000000.. as the table has them), or
    // 0 for a name that addresses no root.
    static std::uint32_t RootKeyHandle(const QString &root);

private:
    void deleteValue(const QString &subkey, const QString &valueName);

    std::unique_ptr<StoreDatabase> m_db;
};

// The shared instance, created on first use.
reg &RegStore();
// Releases the shared instance (program close); the next RegStore() makes a new one.
void releaseRegStore();

// The part of text before its first NUL character, or the whole text.
QString CutAtNull(const QString &text);

// The settings key and the favourites key, under "hkcu".
inline const QString SettingsKeyPath = QStringLiteral("Software\\Halvex\\2007");
inline const QString FavouritesKeyPath = QStringLiteral("Software\\Halvex\\2007\\favoritos");

} // namespace velmora
