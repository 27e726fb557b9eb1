#include "Commands.h"

#include "services/FolderChooser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
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

// The PATH of the command line until the application object exists.
QString &pendingPath()
{
    static QString path;
    return path;
}

// As if chosen in the folder browser and confirmed: the chooser records the
// path, rebuilds the video window and plays (and stays open with the path
// when the engine refuses it). Runs once the windows are up and the event
// loop runs.
void schedulePlay()
{
    if (pendingPath().isEmpty() || !qApp)
        return;
    QTimer::singleShot(0, qApp, [path = std::exchange(pendingPath(), QString())] {
        SelectedFolder = path;
        showDvdDirectoryForm(path);
        dvdDirectoryForm().Command1_Click();
    });
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
    parser.setApplicationDescription(
        QStringLiteral("Velmora, a DVD player. Plays PATH when given, else waits for a disc or folder."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("A DVD folder, its VIDEO_TS folder, an ISO image or a device."),
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
    if (paths.size() == 1) {
        pendingPath() = QFileInfo(paths.first()).absoluteFilePath();
        schedulePlay();
    }
    return std::nullopt;
}

} // namespace velmora
