// Velmora: a desktop DVD player.
//
// Start-up: the control panel comes first and brings everything else up
// (skin, video window with its engine, mixer, timers).
#include "app/SessionPlatform.h"
#include "commands/Commands.h"
#include "commands/LaterStarts.h"
#include "desktop/DesktopIntegration.h"
#include "engine/core/PlaybackEngine.h"
#include "shell/Form6.h"
#include "shell/Forms.h"
#include "widgets/Skn.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

namespace {

// The captions are Chinese: a default font that has the glyphs, with a Latin
// face first where one is installed.
void useCjkCapableFont()
{
    const QStringList installed = QFontDatabase::families();
    QStringList families;
    for (const QString &family : {QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei"),
                                  QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Droid Sans Fallback")}) {
        if (installed.contains(family))
            families.append(family);
    }
    if (families.isEmpty())
        return;
    QFont font = QApplication::font();
    font.setFamilies(families);
    font.setPointSize(9);
    QApplication::setFont(font);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));

    // Before the application object, so --help and --version answer without a display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (const std::optional<int> status = velmora::handleCommandLine(args))
        return *status;
    // One player per user: a running one takes this start's PATH.
    if (const std::optional<int> status = velmora::handOverToRunningPlayer())
        return *status;

    const velmora::PlatformDecision platform = velmora::chooseSessionPlatform();
    QApplication app(argc, argv);
    velmora::reportSessionPlatform(platform);
    useCjkCapableFont();

    velmora::setEngineFactory([](QWidget *host) { return velmora::createPlaybackEngine(host); });

    velmora::Form6 &panel = velmora::form6();
    if (!velmora::skn().icon().isNull())
        QApplication::setWindowIcon(velmora::skn().icon());
    if (panel.isHidden())
        panel.show();
    velmora::serveLaterStarts();
    velmora::installDesktopIntegration();
    return app.exec();
}
