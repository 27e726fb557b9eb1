#include "SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QtDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace velmora {

namespace {

const QByteArray Header = "velmora 1\n";
const QByteArray Reply = "ok\n";
constexpr int LockWaitMs = 5000;

// A file descriptor closed when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool fillAddress(const QString &path, sockaddr_un &address)
{
    const QByteArray name = QFile::encodeName(path);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return true;
}

// The uid of the process at the other end of a connected socket, or -1.
long peerUid(int fd)
{
    ucred cred {};
    socklen_t length = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 || length != sizeof cred)
        return -1;
    return long(cred.uid);
}

// Waits up to ms for fd to become readable; true when it did.
bool waitReadable(int fd, int ms)
{
    pollfd p {fd, POLLIN, 0};
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const int left = std::max(0, ms - int(clock.elapsed()));
        const int rc = ::poll(&p, 1, left);
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

bool sendAll(int fd, const QByteArray &data)
{
    qsizetype sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Holds an exclusive lock on a file beside the socket while one start looks
// for a player and, finding none, becomes it: two starts at the same moment
// never both listen.
class ClaimLock
{
public:
    explicit ClaimLock(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        for (int waited = 0; m_fd.get() >= 0; waited += 10) {
            if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            if (waited >= LockWaitMs)
                return;
            ::usleep(10 * 1000);
        }
    }
    bool locked() const { return m_locked; }

private:
    Fd m_fd; // closing it releases the lock
    bool m_locked = false;
};

} // namespace

struct SingleInstance::Client
{
    int fd = -1;
    QByteArray message;
    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> timeout;
};

SingleInstance::SingleInstance(QString socketPath, QObject *parent)
    : QObject(parent), m_path(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath))
{
}

SingleInstance::~SingleInstance()
{
    while (!m_clients.empty())
        dropClient(m_clients.back()->fd);
    if (m_listenFd >= 0) {
        delete m_listenNotifier;
        ::close(m_listenFd);
        // Only our own socket: another player may have replaced it since.
        struct stat st {};
        if (::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && S_ISSOCK(st.st_mode)
            && st.st_dev == m_socketDevice && st.st_ino == m_socketInode)
            ::unlink(QFile::encodeName(m_path).constData());
    }
}

QString SingleInstance::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime))
        return QString();
    // The folder must be this user's and closed to everyone else, or the
    // socket in it could be swapped under us.
    struct stat st {};
    if (::stat(QFile::encodeName(runtime).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()
        || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return QString();
    return QDir(runtime).filePath(QStringLiteral("velmora.socket"));
}

QByteArray SingleInstance::encode(const Request &request)
{
    if (!request.path)
        return Header + "raise";
    return Header + "open\n" + request.path->toUtf8();
}

std::optional<SingleInstance::Request> SingleInstance::parse(const QByteArray &message)
{
    if (!message.startsWith(Header))
        return std::nullopt;
    const QByteArray body = message.mid(Header.size());
    if (body == "raise")
        return Request{};
    if (!body.startsWith("open\n"))
        return std::nullopt;
    const QByteArray path = body.mid(5);
    if (path.contains('\0'))
        return std::nullopt;
    const QString text = QString::fromUtf8(path);
    // Only what round-trips: bytes that are not UTF-8 would name another file.
    if (text.toUtf8() != path)
        return std::nullopt;
    return Request{text};
}

SingleInstance::Outcome SingleInstance::claim(const Request &request)
{
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("no private runtime folder (XDG_RUNTIME_DIR)");
        return Outcome::Alone;
    }
    sockaddr_un address {};
    if (!fillAddress(m_path, address)) {
        m_error = QStringLiteral("socket path too long: %1").arg(m_path);
        return Outcome::Alone;
    }
    const QByteArray name = QFile::encodeName(m_path);

    // A player that closes its connection without answering is on its way
    // out; after a moment its socket is stale and this start takes over.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ClaimLock lock(m_path + QStringLiteral(".lock"));
        if (!lock.locked()) {
            m_error = QStringLiteral("cannot lock %1.lock").arg(m_path);
            return Outcome::Alone;
        }
        Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (fd.get() < 0) {
            m_error = QStringLiteral("socket: %1").arg(errnoText());
            return Outcome::Alone;
        }
        if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            if (peerUid(fd.get()) != long(::getuid())) {
                m_error = QStringLiteral("%1 belongs to another user").arg(m_path);
                return Outcome::Alone;
            }
            if (!sendAll(fd.get(), encode(request)) || ::shutdown(fd.get(), SHUT_WR) != 0) {
                ::usleep(200 * 1000);
                continue;
            }
            if (!waitReadable(fd.get(), ReplyTimeoutMs)) {
                m_error = QStringLiteral("the running player does not answer");
                return Outcome::Failed;
            }
            char reply[8] = {};
            const ssize_t n = ::recv(fd.get(), reply, sizeof reply, 0);
            if (n == Reply.size() && QByteArray(reply, int(n)) == Reply)
                return Outcome::HandedOff;
            if (n > 0) {
                m_error = QStringLiteral("the running player refused the request");
                return Outcome::Failed;
            }
            ::usleep(200 * 1000);
            continue;
        }
        if (errno != ECONNREFUSED && errno != ENOENT) {
            m_error = QStringLiteral("cannot reach %1: %2").arg(m_path, errnoText());
            return Outcome::Alone;
        }

        // Nobody listens. What is there may be removed only when it is a
        // socket of ours; anything else is not ours to touch.
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) {
                m_error = QStringLiteral("%1 is in the way (not a socket of this user)").arg(m_path);
                return Outcome::Alone;
            }
            if (::unlink(name.constData()) != 0) {
                m_error = QStringLiteral("cannot replace the stale %1: %2").arg(m_path, errnoText());
                return Outcome::Alone;
            }
        }
        // The mode is right from the start: no moment in which another user
        // could connect.
        const mode_t oldMask = ::umask(0177);
        const int bound = ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
        ::umask(oldMask);
        if (bound != 0 || ::chmod(name.constData(), 0600) != 0 || ::listen(fd.get(), 16) != 0) {
            m_error = QStringLiteral("cannot listen on %1: %2").arg(m_path, errnoText());
            return Outcome::Alone;
        }
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
        if (::lstat(name.constData(), &st) == 0) {
            m_socketDevice = st.st_dev;
            m_socketInode = st.st_ino;
        }
        m_listenFd = fd.release();
        return Outcome::Primary;
    }
    m_error = QStringLiteral("the running player keeps closing the connection");
    return Outcome::Failed;
}

void SingleInstance::serve(std::function<void(const Request &)> handler)
{
    m_handler = std::move(handler);
    if (m_listenFd < 0 || m_listenNotifier)
        return;
    m_listenNotifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_listenNotifier, &QSocketNotifier::activated, this, [this] { acceptPending(); });
    // Starts that connected before the event loop ran are waiting already.
    QTimer::singleShot(0, this, [this] { acceptPending(); });
}

void SingleInstance::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: all taken; anything else: try on the next wake
        }
        const long uid = peerUid(fd);
        if (uid != long(::getuid())) {
            qWarning("velmora: refused a request from user %ld on %s", uid, qPrintable(m_path));
            ::close(fd);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(client->notifier.get(), &QSocketNotifier::activated, this, [this, fd] { readClient(fd); });
        client->timeout = std::make_unique<QTimer>();
        client->timeout->setSingleShot(true);
        connect(client->timeout.get(), &QTimer::timeout, this, [this, fd] {
            qWarning("velmora: a request on %s did not arrive in time", qPrintable(m_path));
            dropClient(fd);
        });
        client->timeout->start(ClientTimeoutMs);
        m_clients.push_back(std::move(client));
    }
}

void SingleInstance::readClient(int fd)
{
    auto it = std::find_if(m_clients.begin(), m_clients.end(), [fd](const auto &c) { return c->fd == fd; });
    if (it == m_clients.end())
        return;
    Client &client = **it;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            client.message.append(buffer, n);
            if (client.message.size() > MaxMessageBytes) {
                qWarning("velmora: refused an oversized request on %s", qPrintable(m_path));
                dropClient(fd);
                return;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return; // more to come
        break;      // end of the message (or a broken connection)
    }
    const std::optional<Request> request = parse(client.message);
    if (!request) {
        qWarning("velmora: refused a malformed request on %s", qPrintable(m_path));
        dropClient(fd);
        return;
    }
    // Answered first: the later start ends while this player acts.
    sendAll(fd, Reply);
    dropClient(fd);
    if (m_handler) {
        try {
            m_handler(*request);
        } catch (const std::exception &e) {
            qWarning("velmora: a handed-over request failed: %s", e.what());
        }
    }
}

void SingleInstance::dropClient(int fd)
{
    auto it = std::find_if(m_clients.begin(), m_clients.end(), [fd](const auto &c) { return c->fd == fd; });
    if (it == m_clients.end())
        return;
    std::unique_ptr<Client> client = std::move(*it);
    m_clients.erase(it);
    client->notifier->setEnabled(false);
    ::close(client->fd);
    // The notifier or timer may be the one whose signal runs this: delete later.
    client->notifier.release()->deleteLater();
    client->timeout.release()->deleteLater();
}

} // namespace velmora
