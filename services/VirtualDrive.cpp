#include "VirtualDrive.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace velmora {

namespace {

constexpr char LinkName[] = "y";

QString xdgFolder(const char *variable, const char *fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1String(fallback);
}

QString cacheFolder()
{
    return xdgFolder("XDG_CACHE_HOME", "/.cache") + QStringLiteral("/velmora");
}

// Where the link lives: the per-user runtime folder when there is one.
QString linkFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        return runtime + QStringLiteral("/velmora");
    return cacheFolder();
}

struct FdCloser {
    void operator()(int *fd) const
    {
        if (*fd >= 0)
            ::close(*fd);
        delete fd;
    }
};
using Fd = std::unique_ptr<int, FdCloser>;

// Opens the link's folder, creating it private to the user. Refuses a
// folder that is a link itself or belongs to someone else: the link made in
// it must not land where another user chose.
Fd openLinkFolder(bool create)
{
    const QByteArray path = QFile::encodeName(linkFolder());
    if (create) {
        QDir().mkpath(QFileInfo(QFile::decodeName(path)).absolutePath());
        ::mkdir(path.constData(), 0700);
    }
    Fd fd(new int(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
    if (*fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(*fd, &st) != 0 || st.st_uid != ::getuid())
        return nullptr;
    return fd;
}

// The target a symlink at name in folder points at, or empty when name is
// not a symlink.
QByteArray linkTarget(int folder, const char *name)
{
    struct stat st {};
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return QByteArray();
    QByteArray target(PATH_MAX, '\0');
    const ssize_t n = ::readlinkat(folder, name, target.data(), size_t(target.size()));
    if (n <= 0)
        return QByteArray(1, '\0'); // a link, unreadable: still a link
    target.truncate(n);
    return target;
}

} // namespace

QString scratchFolder()
{
    return cacheFolder() + QStringLiteral("/Temp");
}

QString virtualDriveLink()
{
    return linkFolder() + u'/' + QLatin1String(LinkName);
}

void CreateVirtualDrive()
{
    // Every step is tried whatever became of the previous one.
    const QString temp = scratchFolder();
    QDir().mkpath(temp);
    ::mkdir(QFile::encodeName(temp + QStringLiteral("/VIDEO_TS")).constData(), 0700);

    Fd folder = openLinkFolder(true);
    if (!folder)
        return;
    const QByteArray target = QFile::encodeName(temp);
    if (::symlinkat(target.constData(), *folder, LinkName) == 0)
        return;
    if (errno != EEXIST)
        return;
    const QByteArray current = linkTarget(*folder, LinkName);
    if (current.isEmpty() || current == target)
        return; // a real file or folder by that name is left alone
    // A stale link from an earlier run: replace it in one step. rename()
    // replaces the link itself and never follows it.
    const QByteArray fresh = QByteArray(LinkName) + ".new-" + QByteArray::number(::getpid());
    ::unlinkat(*folder, fresh.constData(), 0);
    if (::symlinkat(target.constData(), *folder, fresh.constData()) == 0
        && ::renameat(*folder, fresh.constData(), *folder, LinkName) != 0)
        ::unlinkat(*folder, fresh.constData(), 0);
}

void RemoveVirtualDrive()
{
    // rmdir takes only an empty folder, and fails on a link in its place.
    ::rmdir(QFile::encodeName(scratchFolder() + QStringLiteral("/VIDEO_TS")).constData());

    Fd folder = openLinkFolder(false);
    if (!folder)
        return;
    if (!linkTarget(*folder, LinkName).isEmpty())
        ::unlinkat(*folder, LinkName, 0);
}

} // namespace velmora
