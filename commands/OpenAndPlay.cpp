#include "OpenAndPlay.h"

#include "services/FolderChooser.h"
#include "shell/Form4.h"
#include "shell/Form6.h"
#include "shell/Forms.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>
#include <QtDebug>

#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// An ISO 9660 primary volume descriptor or a UDF volume recognition sequence
// starts at sector 16: one type byte, then "CD001" or "BEA01".
constexpr qint64 VolumeDescriptorOffset = 16 * 2048;

bool isImage(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    char id[6] = {};
    const ssize_t got = ::pread(fd, id, sizeof id, VolumeDescriptorOffset);
    ::close(fd);
    if (got != ssize_t(sizeof id))
        return false;
    const QByteArray magic(id + 1, 5);
    return magic == "CD001" || magic == "BEA01";
}

// The entry of folder called name, compared case-insensitively ("" if none).
QString entryNamed(const QDir &folder, const QString &name, QDir::Filters kind)
{
    for (const QString &entry : folder.entryList(kind | QDir::Hidden | QDir::System)) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder.filePath(entry);
    }
    return QString();
}

bool isVideoTsFolder(const QString &folder)
{
    return QFileInfo(folder).fileName().compare(u"VIDEO_TS", Qt::CaseInsensitive) == 0
        && !entryNamed(QDir(folder), QStringLiteral("VIDEO_TS.IFO"), QDir::Files).isEmpty();
}

// The first path of a drop, local or not ("" when nothing usable came).
QString droppedPath(const QMimeData *data)
{
    if (!data)
        return QString();
    for (const QUrl &url : data->urls())
        return url.isLocalFile() ? url.toLocalFile() : url.toString();
    return data->hasText() ? data->text().section(u'\n', 0, 0).trimmed() : QString();
}

class DropFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            // Everything that names a path is taken, so that a wrong one gets
            // its message instead of a silent refusal.
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (drag->mimeData() && (drag->mimeData()->hasUrls() || drag->mimeData()->hasText()))
                drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            const QString path = droppedPath(drop->mimeData());
            drop->acceptProposedAction();
            if (!path.isEmpty()) {
                // Not from inside the drop: the source application waits for
                // the drop to finish, and playing rebuilds this very window.
                QMetaObject::invokeMethod(qApp, [path] {
                    const std::optional<QString> local = localPathFromArgument(path);
                    openAndPlay(local ? *local : path);
                }, Qt::QueuedConnection);
            }
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }
};

} // namespace

std::optional<QString> localPathFromArgument(const QString &argument, QString *error)
{
    auto fail = [&](const QString &reason) -> std::optional<QString> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const QRegularExpressionMatch match = scheme.match(argument);
    if (!match.hasMatch() || QFileInfo::exists(argument))
        return argument.isEmpty() ? argument : QFileInfo(argument).absoluteFilePath();

    const QString name = match.captured(1).toLower();
    if (name != u"file" && name != u"dvd")
        return fail(QStringLiteral("Not a DVD address: %1 (only dvd:// and file:// are understood)").arg(argument));
    const QUrl url(argument, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("Not a valid address: %1").arg(argument));
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(u"localhost", Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("Not a local address: %1").arg(argument));
    if (name == u"file") {
        const QString path = url.path(QUrl::FullyDecoded);
        if (path.isEmpty() || !path.startsWith(u'/'))
            return fail(QStringLiteral("Not a valid address: %1").arg(argument));
        return QDir::cleanPath(path);
    }
    // dvd: "dvd://" alone is the drive; a decoded NUL would cut the path short.
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.contains(QChar(0)))
        return fail(QStringLiteral("Not a valid address: %1").arg(argument));
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

std::optional<QString> dvdSourceFor(const QString &path)
{
    if (path.isEmpty())
        return path; // the disc in the drive
    if (path.contains(QChar(0)))
        return std::nullopt;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    if (S_ISBLK(st.st_mode))
        return path;
    const QFileInfo info(path);
    if (S_ISDIR(st.st_mode)) {
        if (isVideoTsFolder(path))
            return path;
        const QString videoTs = entryNamed(QDir(path), QStringLiteral("VIDEO_TS"), QDir::Dirs);
        if (!videoTs.isEmpty() && isVideoTsFolder(videoTs))
            return path;
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    const QString suffix = info.suffix().toUpper();
    if (suffix == u"IFO" || suffix == u"BUP" || suffix == u"VOB") {
        const QString folder = info.absolutePath();
        return isVideoTsFolder(folder) ? std::optional<QString>(folder) : std::nullopt;
    }
    return isImage(path) ? std::optional<QString>(path) : std::nullopt;
}

QString notADvdMessage(const QString &path)
{
    return QStringLiteral("Not a DVD folder or image: %1").arg(QDir::toNativeSeparators(path));
}

bool openAndPlay(const QString &path)
{
    try {
        const std::optional<QString> source = dvdSourceFor(path);
        if (!source) {
            qInfo("velmora: %s", qPrintable(notADvdMessage(path)));
            form4().showNotice(notADvdMessage(path));
            return false;
        }
        SelectedFolder = *source;
        // The chooser may be open with another folder: this one wins.
        if (dvdDirectoryFormLoaded())
            unloadDvdDirectoryForm();
        return playConfirmedFolder(*source);
    } catch (const std::exception &e) {
        qWarning("velmora: cannot open %s: %s", qPrintable(path), e.what());
        return false;
    }
}

void bringPlayerToFront()
{
    try {
        Form6 &panel = form6();
        if (panel.isMinimized())
            panel.showNormal();
        panel.show();
        Form4 &video = form4();
        if (video.isHidden() || video.isMinimized())
            video.showNormal();
        for (QWidget *window : {static_cast<QWidget *>(&video), static_cast<QWidget *>(&panel)}) {
            window->raise();
            window->activateWindow();
        }
    } catch (const std::exception &e) {
        qWarning("velmora: cannot bring the player to the front: %s", e.what());
    }
}

void acceptDiscDrops(QWidget *window)
{
    if (!window)
        return;
    window->setAcceptDrops(true);
    window->installEventFilter(new DropFilter(window));
}

} // namespace velmora
