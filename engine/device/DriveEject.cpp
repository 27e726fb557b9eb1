#include "engine/device/DriveEject.h"

#include "engine/EngineError.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString defaultDrive()
{
    for (const char *candidate : {"/dev/dvd", "/dev/sr0"})
        if (QFileInfo::exists(QString::fromLatin1(candidate)))
            return QString::fromLatin1(candidate);
    return {};
}

void ejectDrive(const QString &device)
{
    const QString path = device.isEmpty() ? defaultDrive() : device;
    if (path.isEmpty())
        throw EngineError(ErrorCode::NoDisc, QStringLiteral("No DVD drive found (tried /dev/dvd and /dev/sr0)"));
    const QByteArray native = QFile::encodeName(path);

    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            throw EngineError(ErrorCode::NoDisc, QStringLiteral("No drive at %1").arg(path));
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("Cannot examine %1: %2").arg(path, errnoText(error)));
    }
    if (S_ISDIR(info.st_mode))
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("%1 is a folder, not a drive: nothing to eject").arg(path));
    if (S_ISREG(info.st_mode))
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("%1 is a disc image, not a drive: nothing to eject").arg(path));
    if (!S_ISBLK(info.st_mode))
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("%1 is not a drive").arg(path));

    // Non-blocking, so an empty drive or an open tray still opens.
    const FileDescriptor fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        const int error = errno;
        if (error == ENXIO || error == ENODEV || error == ENOENT)
            throw EngineError(ErrorCode::NoDisc, QStringLiteral("No drive behind %1").arg(path));
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("Cannot open %1: %2").arg(path, errnoText(error)));
    }
    if (::ioctl(fd.get(), CDROMEJECT, 0) != 0) {
        const int error = errno;
        throw EngineError(ErrorCode::DeviceError, QStringLiteral("The drive %1 did not open: %2").arg(path, errnoText(error)));
    }
}

} // namespace velmora
