#pragma once
// One player per user: a later start hands its request to the running player
// over a local socket and ends.
//
// The socket is "velmora.socket" in the user's runtime folder
// ($XDG_RUNTIME_DIR, which must be an absolute path to a folder of this user
// that no one else may write to), with mode 0600. Both ends check the other
// with SO_PEERCRED: the player serves only its own user, and a start hands
// its request only to a player of its own user.
//
// claim() runs before the application object exists (a start that hands
// over never opens a display). Under an exclusive lock on
// "velmora.socket.lock" it connects to the socket; when nobody answers
// there, the socket is stale (its player crashed or ended without removing
// it) and is replaced by this process's own. Anything other than a socket of
// this user at that name is left alone and the player runs on its own.
//
// A request is one message: "velmora 1\n" then "raise" or "open\n" and the
// path (UTF-8, any bytes but NUL); the player answers "ok\n" before it acts,
// so the later start ends at once.
//
// serve() runs on the UI thread: accepting and reading never block (a slow
// or silent client is dropped after ClientTimeoutMs), and the handler is
// called on the UI thread.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

namespace velmora {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Primary,   // this process listens: it is the player
        HandedOff, // the running player took the request: end with status 0
        Alone,     // no single instance possible here (see error()): play on
        Failed,    // a player runs but did not take the request (see error())
    };
    // What a later start asks of the running player.
    struct Request
    {
        std::optional<QString> path; // play this; nothing: only come to the front
        bool operator==(const Request &) const = default;
    };

    static constexpr int ReplyTimeoutMs = 10000;  // a start waits this long for "ok"
    static constexpr int ClientTimeoutMs = 3000;  // the player waits this long for a message
    static constexpr int MaxMessageBytes = 64 * 1024;

    // socketPath empty: defaultSocketPath().
    explicit SingleInstance(QString socketPath = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // $XDG_RUNTIME_DIR/velmora.socket, or "" when there is no usable runtime
    // folder (then claim() answers Alone).
    static QString defaultSocketPath();

    // Hands request to the running player, or becomes the player. Blocks for
    // at most the lock wait plus ReplyTimeoutMs.
    Outcome claim(const Request &request);
    // Why claim() answered Alone or Failed.
    QString error() const { return m_error; }
    const QString &socketPath() const { return m_path; }

    // After claim() answered Primary, with an event loop: calls handler for
    // each request of this user. Requests from other users are refused and
    // logged.
    void serve(std::function<void(const Request &)> handler);

    // Parses one message; nothing when it is malformed.
    static std::optional<Request> parse(const QByteArray &message);
    static QByteArray encode(const Request &request);

private:
    void acceptPending();
    void readClient(int fd);
    void dropClient(int fd);

    QString m_path;
    QString m_error;
    int m_listenFd = -1;
    unsigned long m_socketDevice = 0; // which file is our socket, so that
    unsigned long m_socketInode = 0;  // only it is removed at the end
    QSocketNotifier *m_listenNotifier = nullptr;
    std::function<void(const Request &)> m_handler;
    struct Client;
    std::vector<std::unique_ptr<Client>> m_clients;
};

} // namespace velmora
