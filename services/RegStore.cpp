#include "RegStore.h"

#include "Settings.h"
#include "StoreDatabase.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <optional>

#include <sqlite3.h>

namespace velmora {

namespace {

constexpr std::uint32_t HKEY_CLASSES_ROOT = 0x80000000u;
constexpr std::uint32_t HKEY_CURRENT_USER = 0x80000001u;
constexpr std::uint32_t HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr std::uint32_t HKEY_CURRENT_CONFIG = 0x80000005u;
constexpr qint64 REG_SZ = 1;

// Read limits of the value buffers, in bytes including the terminating NUL.
constexpr qsizetype ValueBufferBytes = 260;
constexpr qsizetype EnumNameBytes = 260;
constexpr qsizetype EnumDataBytes = 4000;

// Key paths are stored without empty components: "a\\b\\" and "a\\b" are one key.
QStringList keyComponents(const QString &subkey)
{
    return subkey.split(u'\\', Qt::SkipEmptyParts);
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString trimLeadingSpaces(const QString &text)
{
    qsizetype begin = 0;
    while (begin < text.size() && text.at(begin) == u' ')
        ++begin;
    return text.mid(begin);
}

// The id of an existing key, or nothing. The root's own values live under
// the key with the empty path.
std::optional<qint64> findKey(sqlite3 *db, std::uint32_t root, const QString &subkey)
{
    Statement find(db, "SELECT id FROM reg_keys WHERE root = ?1 AND fold = ?2");
    find.bind(1, qint64(root)).bind(2, keyComponents(subkey).join(u'\\').toCaseFolded());
    if (find.step() == SQLITE_ROW)
        return find.integer(0);
    return std::nullopt;
}

// Creates subkey and every parent that is missing; existing keys keep the
// spelling they were created with. Inside a write transaction.
std::optional<qint64> createKey(sqlite3 *db, std::uint32_t root, const QString &subkey)
{
    const QStringList parts = keyComponents(subkey);
    for (qsizetype n = 0; n <= parts.size(); ++n) {
        const QString path = parts.mid(0, n).join(u'\\');
        Statement insert(db, "INSERT INTO reg_keys(root, path, fold) VALUES(?1, ?2, ?3) "
                             "ON CONFLICT(root, fold) DO NOTHING");
        insert.bind(1, qint64(root)).bind(2, path).bind(3, path.toCaseFolded());
        if (!insert.exec())
            return std::nullopt;
    }
    return findKey(db, root, subkey);
}

std::optional<QString> readValue(sqlite3 *db, std::uint32_t root, const QString &subkey,
                                 const QString &name)
{
    const auto key = findKey(db, root, subkey);
    if (!key)
        return std::nullopt;
    Statement read(db, "SELECT data FROM reg_values WHERE key_id = ?1 AND fold = ?2");
    read.bind(1, *key).bind(2, name.toCaseFolded());
    if (read.step() == SQLITE_ROW)
        return read.text(0);
    return std::nullopt;
}

} // namespace

reg::reg() : reg(defaultStorePath()) {}

reg::reg(const QString &databasePath) : m_db(std::make_unique<StoreDatabase>(databasePath)) {}

reg::~reg() = default;

std::uint32_t reg::RootKeyHandle(const QString &root)
{
    const QString name = root.toLower();
    if (name == u"hkcr")
        return HKEY_CLASSES_ROOT;
    if (name == u"hklm")
        return HKEY_LOCAL_MACHINE;
    if (name == u"hkcu")
        return HKEY_CURRENT_USER;
    if (name == u"hkcc")
        return HKEY_CURRENT_CONFIG;
    return 0;
}

void reg::CreateValue(const QString &root, const QString &subkey, const QString &valueName,
                      const QString &value)
{
    const std::uint32_t handle = RootKeyHandle(root);
    if (handle == 0)
        return;
    m_db->write([&](sqlite3 *db) {
        const auto key = createKey(db, handle, subkey);
        if (!key)
            return false;
        // Replacing a value keeps its row, hence its place in the enumeration
        // and the spelling of its name.
        Statement upsert(db, "INSERT INTO reg_values(key_id, name, fold, type, data) "
                             "VALUES(?1, ?2, ?3, ?4, ?5) "
                             "ON CONFLICT(key_id, fold) DO UPDATE SET type = excluded.type, "
                             "data = excluded.data");
        upsert.bind(1, *key).bind(2, valueName).bind(3, valueName.toCaseFolded()).bind(4, REG_SZ)
            .bind(5, value);
        return upsert.exec();
    });
}

QString reg::GetValue(const QString &root, const QString &subkey, const QString &valueName)
{
    const std::uint32_t handle = RootKeyHandle(root);
    std::optional<QString> value;
    if (handle != 0) {
        if (sqlite3 *db = m_db->connection())
            value = readValue(db, handle, subkey, valueName);
    }
    if (!value)
        return QString(ValueBufferBytes, QChar(0));

    // The 260-byte buffer: a value that fits comes back NUL-padded to the
    // buffer's size. One that does not fit comes back whole; a truncated or
    // undefined buffer would lose the end of a long (say, Chinese) path.
    const qsizetype bytes = value->toUtf8().size();
    if (bytes < ValueBufferBytes)
        return trimLeadingSpaces(*value + QString(ValueBufferBytes - bytes, QChar(0)));
    return trimSpaces(*value);
}

void reg::WriteKey(const QString &key, const QString &value)
{
    CreateValue(QStringLiteral("hkcu"), SettingsKeyPath, key, value);
}

QString reg::LoadKey(const QString &key, const QString &def)
{
    const QString value = CutAtNull(GetValue(QStringLiteral("hkcu"), SettingsKeyPath, key));
    if (trimSpaces(value).isEmpty())
        return def;
    return value;
}

void reg::DelKey(const QString &key)
{
    deleteValue(SettingsKeyPath, key);
}

void reg::deleteValue(const QString &subkey, const QString &valueName)
{
    m_db->write([&](sqlite3 *db) {
        const auto key = findKey(db, HKEY_CURRENT_USER, subkey);
        if (!key)
            return true;
        Statement del(db, "DELETE FROM reg_values WHERE key_id = ?1 AND fold = ?2");
        del.bind(1, *key).bind(2, valueName.toCaseFolded());
        return del.exec();
    });
}

QString reg::Favorito(const QString &name)
{
    return CutAtNull(trimSpaces(GetValue(QStringLiteral("hkcu"), FavouritesKeyPath, name)));
}

void reg::AdicionarFavorito(const QString &name, const QString &path)
{
    CreateValue(QStringLiteral("hkcu"), FavouritesKeyPath, name, path);
}

void reg::RemoverFavorito(const QString &name)
{
    deleteValue(FavouritesKeyPath, name);
}

QStringList reg::EnumFavoritos()
{
    struct Entry {
        QString name;
        qsizetype dataBytes;
    };
    QList<Entry> entries;
    if (sqlite3 *db = m_db->connection()) {
        // Read the list in one go: the event loop runs between names below,
        // and a statement kept open across it would pin an old snapshot.
        if (const auto key = findKey(db, HKEY_CURRENT_USER, FavouritesKeyPath)) {
            Statement list(db, "SELECT name, length(CAST(data AS BLOB)) FROM reg_values "
                               "WHERE key_id = ?1 ORDER BY id");
            list.bind(1, *key);
            while (list.step() == SQLITE_ROW)
                entries.append({list.text(0), qsizetype(list.integer(1))});
        }
    }

    QStringList names;
    for (const Entry &entry : entries) {
        if (entry.name.toUtf8().size() + 1 > EnumNameBytes || entry.dataBytes + 1 > EnumDataBytes)
            break;
        names.append(entry.name);
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
    return names;
}

void reg::LimparFavoritos()
{
    const QStringList names = EnumFavoritos();
    for (const QString &name : names)
        RemoverFavorito(name);
}

QString reg::Short(const QString &path)
{
    if (path.isEmpty())
        return QString();
    return QFileInfo(path).canonicalFilePath();
}

namespace {
std::unique_ptr<reg> &sharedStore()
{
    static std::unique_ptr<reg> store;
    return store;
}
} // namespace

reg &RegStore()
{
    auto &store = sharedStore();
    if (!store)
        store = std::make_unique<reg>();
    return *store;
}

void releaseRegStore()
{
    sharedStore().reset();
}

QString CutAtNull(const QString &text)
{
    const qsizetype at = text.indexOf(QChar(0));
    return at < 0 ? text : text.left(at);
}

} // namespace velmora
