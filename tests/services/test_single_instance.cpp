// One player per user: the socket between a running player and later starts,
// with the later start a real second process (this test binary run with
// --claim).

#include "services/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora;
#define S QStringLiteral

namespace {

// Child mode: claims socket with an optional path; prints the outcome.
int claimMode(const QString &socket, const std::optional<QString> &path)
{
    SingleInstance instance(socket);
    const SingleInstance::Outcome outcome = instance.claim(SingleInstance::Request{path});
    static const char *const names[] = {"primary", "handed-off", "alone", "failed"};
    std::printf("%s\n", names[int(outcome)]);
    return 0;
}

// A raw connection to socket; -1 when none.
int connectTo(const QString &socket)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(socket);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int mode(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_socket = m_dir->filePath(S("velmora.socket"));
        m_requests.clear();
    }

    void messages_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("valid");
        QTest::newRow("raise") << QByteArray("velmora 1\nraise") << true;
        QTest::newRow("open") << QByteArray("velmora 1\nopen\n/films/a b\nc.iso") << true;
        QTest::newRow("open the drive") << QByteArray("velmora 1\nopen\n") << true;
        QTest::newRow("no header") << QByteArray("raise") << false;
        QTest::newRow("other version") << QByteArray("velmora 2\nraise") << false;
        QTest::newRow("unknown verb") << QByteArray("velmora 1\nquit") << false;
        QTest::newRow("NUL in path") << QByteArray("velmora 1\nopen\n/a\0b", 19) << false;
        QTest::newRow("not UTF-8") << QByteArray("velmora 1\nopen\n/a\xff") << false;
    }
    void messages()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, valid);
        const std::optional<SingleInstance::Request> request = SingleInstance::parse(message);
        QCOMPARE(request.has_value(), valid);
        if (valid)
            QCOMPARE(SingleInstance::encode(*request), message);
    }

    // The whole hand-over between two processes, the socket's mode, and a
    // silent client that must not hold the player up.
    void laterStartHandsOver()
    {
        SingleInstance player(m_socket);
        QCOMPARE(player.claim({}), SingleInstance::Outcome::Primary);
        QCOMPARE(mode(m_socket), 0600);
        serve(player);

        const int silent = connectTo(m_socket);
        QVERIFY(silent >= 0);
        QCOMPARE(claimInChild({S("/films/Mon Film")}), S("handed-off"));
        QCOMPARE(claimInChild(std::nullopt), S("handed-off"));
        QTRY_COMPARE(m_requests.size(), 2);
        QCOMPARE(m_requests[0].path.value_or(QString()), S("/films/Mon Film"));
        QVERIFY(!m_requests[1].path);
        ::close(silent);
    }

    // A socket left by a crashed player is replaced; anything that is not a
    // socket is not touched.
    void staleSocket()
    {
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, QFile::encodeName(m_socket).constData(), size_t(m_socket.size()));
            QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
            ::close(fd); // no listener: as after a crash
        }
        SingleInstance player(m_socket);
        QCOMPARE(player.claim({}), SingleInstance::Outcome::Primary);
        serve(player);
        QCOMPARE(claimInChild({S("/x")}), S("handed-off"));
    }

    void somethingElseInTheWay()
    {
        QFile squatter(m_socket);
        QVERIFY(squatter.open(QIODevice::WriteOnly));
        squatter.write("keep me");
        squatter.close();
        SingleInstance player(m_socket);
        QCOMPARE(player.claim({}), SingleInstance::Outcome::Alone);
        QVERIFY(player.error().contains(S("in the way")));
        QVERIFY(squatter.open(QIODevice::ReadOnly));
        QCOMPARE(squatter.readAll(), QByteArray("keep me"));
    }

    // Even with the socket opened up by mistake, another user's request is
    // refused: the player checks who is at the other end.
    void otherUserRefused()
    {
        if (::getuid() != 0)
            QSKIP("needs root to act as another user");
        SingleInstance player(m_socket);
        QCOMPARE(player.claim({}), SingleInstance::Outcome::Primary);
        serve(player);
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_socket).constData(), 0666) == 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(S("refused a request from user 65534")));

        const QByteArray message = SingleInstance::encode({S("/etc")});
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            const int fd = connectTo(m_socket);
            if (fd < 0)
                ::_exit(4);
            ::send(fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            char reply[8];
            ::_exit(::recv(fd, reply, sizeof reply, 0) > 0 ? 1 : 0); // 0: closed without "ok"
        }
        int status = -1;
        QVERIFY(waitChild(child, &status));
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
        QTest::qWait(100);
        QVERIFY(m_requests.isEmpty());
    }

private:
    void serve(SingleInstance &player)
    {
        player.serve([this](const SingleInstance::Request &r) { m_requests.append(r); });
    }

    // Runs this binary as a later start; the event loop runs meanwhile, so
    // this process can answer as the player.
    QString claimInChild(const std::optional<QString> &path)
    {
        QProcess child;
        QStringList args{S("--claim"), m_socket};
        if (path)
            args << *path;
        child.start(QCoreApplication::applicationFilePath(), args);
        if (!QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 15000)) {
            child.kill();
            child.waitForFinished();
            return S("timed out");
        }
        return QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    }

    static bool waitChild(pid_t child, int *status)
    {
        return QTest::qWaitFor([&] { return ::waitpid(child, status, WNOHANG) == child; }, 10000);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_socket;
    QList<SingleInstance::Request> m_requests;
};

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--claim") == 0)
        return claimMode(QFile::decodeName(argv[2]),
                         argc >= 4 ? std::optional<QString>(QString::fromUtf8(argv[3])) : std::nullopt);
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_single_instance.moc"
