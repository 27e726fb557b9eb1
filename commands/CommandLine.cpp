#include "Commands.h"

#include "OpenAndPlay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace velmora {

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// The PATH of the command line until the application object exists; "" is
// the disc in the drive (dvd://).
std::optional<QString> &pendingPath()
{
    static std::optional<QString> path;
    return path;
}

// The path as recorded for commandLinePath(); kept after the play is scheduled.
std::optional<QString> &givenPath()
{
    static std::optional<QString> path;
    return path;
}

// As if chosen in the folder browser and confirmed (openAndPlay). Runs once
// the windows are up and the event loop runs.
void schedulePlay()
{
    if (!pendingPath() || !qApp)
        return;
    QTimer::singleShot(0, qApp, [path = *std::exchange(pendingPath(), std::nullopt)] { openAndPlay(path); });
}

} // namespace

// handleCommandLine may run before the application object is made (so that
// --help and --version answer without a display); the play is scheduled when
// it is.
Q_COREAPP_STARTUP_FUNCTION(schedulePlay)

std::optional<int> handleCommandLine(const QStringList &args)
{
    if (QCoreApplication::applicationName().isEmpty())
        QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    if (QCoreApplication::applicationVersion().isEmpty())
        QCoreApplication::setApplicationVersion(QStringLiteral("0.1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Velmora, a DVD player. Plays PATH when given, else waits for a disc or folder.\n"
        "PATH is a DVD folder, its VIDEO_TS folder, a .IFO or .VOB file inside one, an ISO image,\n"
        "a device such as /dev/sr0, or an address: dvd:///dev/sr0, dvd:// (the drive),\n"
        "file:///path/with%20spaces.\n"
        "When a player already runs for this user, PATH goes to it (it plays PATH and comes\n"
        "to the front; without PATH it only comes to the front) and this command ends at once."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("A DVD folder, an ISO image, a device or a dvd:// or file:// address."),
                                 QStringLiteral("[PATH]"));
    auto usage = [&parser] {
        QString text = parser.helpText();
        return text.replace(QLatin1String("<executable_name>"), QLatin1String("velmora"));
    };

    // The parser expects the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("velmora")} + args)) {
        print(stderr, parser.errorText() + u'\n' + usage());
        return 2;
    }
    if (parser.isSet(help)) {
        print(stdout, usage());
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1) {
        print(stderr, QStringLiteral("Only one PATH, please.\n") + usage());
        return 2;
    }
    givenPath().reset();
    if (paths.size() == 1) {
        QString error;
        const std::optional<QString> local = localPathFromArgument(paths.first(), &error);
        if (!local) {
            print(stderr, QStringLiteral("velmora: ") + error + u'\n');
            return 2;
        }
        givenPath() = local;
        pendingPath() = local;
        schedulePlay();
    }
    return std::nullopt;
}

std::optional<QString> commandLinePath()
{
    return givenPath();
}

} // namespace velmora
