#include "Commands.h"

#include "services/FolderChooser.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

namespace velmora {

namespace {

void print(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

std::optional<int> handleCommandLine(const QStringList &args)
{
    if (QCoreApplication::applicationVersion().isEmpty())
        QCoreApplication::setApplicationVersion(QStringLiteral("3.20"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Velmora, a DVD player. Plays PATH when given, else waits for a disc or folder."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("A DVD folder, its VIDEO_TS folder, an ISO image or a device."),
                                 QStringLiteral("[PATH]"));

    // The parser expects the program's name first.
    if (!parser.parse(QStringList{QCoreApplication::applicationName().toLower()} + args)) {
        print(stderr, parser.errorText() + u'\n' + parser.helpText());
        return 2;
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion() + u'\n');
        return 0;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1) {
        print(stderr, QStringLiteral("Only one PATH, please.\n") + parser.helpText());
        return 2;
    }
    if (paths.size() == 1) {
        const QString path = QFileInfo(paths.first()).absoluteFilePath();
        // As if chosen in the folder browser and confirmed: the chooser
        // records it, rebuilds the video window and plays (and stays open
        // with the path when the engine refuses it). Once the windows are up
        // and the event loop runs.
        QTimer::singleShot(0, qApp, [path] {
            SelectedFolder = path;
            showDvdDirectoryForm(path);
            dvdDirectoryForm().Command1_Click();
        });
    }
    return std::nullopt;
}

} // namespace velmora
