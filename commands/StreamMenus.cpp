#include "StreamMenus.h"

#include "Res.h"
#include "engine/DvdEngine.h"
#include "engine/ErrorTrap.h"
#include "shell/Form4.h"
#include "shell/Forms.h"

#include <QAction>
#include <QMenu>

namespace velmora {

namespace {

using Mode = ErrorTrap::Mode;

// Entries carry their stream number; "关闭" carries -1.
constexpr const char *StreamProperty = "stream";

QAction *addEntry(QMenu &menu, const QString &text, int stream, bool enabled, bool checked)
{
    QAction *action = menu.addAction(text);
    action->setProperty(StreamProperty, stream);
    action->setCheckable(true);
    action->setChecked(checked);
    action->setEnabled(enabled);
    return action;
}

void refreshCaptions()
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([] {
        if (form4Loaded())
            form4().DVD_TitleInfoChanged();
    });
}

} // namespace

QString audioEntryText(int stream, const QString &language, const QString &format)
{
    QString text = QString::number(stream + 1) + QStringLiteral(": ") + language;
    if (!format.isEmpty())
        text += QStringLiteral(" (") + format + u')';
    return text;
}

void fillAudioMenu(QMenu &menu, DvdEngine &engine)
{
    menu.clear();
    ErrorTrap trap(Mode::EndOnFirstFailure);
    trap.run([&] {
        const int count = engine.AudioStreamCount();
        const int current = engine.CurrentAudioStream();
        for (int n = 0; n < count; ++n) {
            QAction *entry = addEntry(menu, audioEntryText(n, engine.GetAudioLanguage(n), engine.AudioStreamFormat(n)),
                                      n, engine.AudioStreamEnabled(n), n == current);
            QObject::connect(entry, &QAction::triggered, entry, [n] { SelectAudio(n); });
        }
    });
}

void fillSubtitleMenu(QMenu &menu, DvdEngine &engine, bool displayOn)
{
    menu.clear();
    int current = -1;
    ErrorTrap trap(Mode::EndOnFirstFailure);
    if (displayOn)
        trap.run([&] { current = engine.CurrentSubpictureStream(); });
    QAction *off = addEntry(menu, QStringLiteral("关闭"), -1, true, current < 0);
    QObject::connect(off, &QAction::triggered, off, [] { SelectSubtitle(-1); });
    trap.run([&] {
        const int count = engine.SubpictureStreamCount();
        for (int n = 0; n < count; ++n) {
            const QString text = QString::number(n + 1) + QStringLiteral(": ") + engine.GetSubpictureLanguage(n);
            QAction *entry = addEntry(menu, text, n, engine.SubpictureStreamEnabled(n), n == current);
            QObject::connect(entry, &QAction::triggered, entry, [n] { SelectSubtitle(n); });
        }
    });
}

void SelectAudio(int stream)
{
    ErrorTrap trap(Mode::SkipAndContinue);
    trap.run([&] { form4().DVD->SelectAudioStream(stream); });
    refreshCaptions();
}

void SelectSubtitle(int stream)
{
    // The display mark is what the status poll applies to the engine on
    // every tick; it is set here too so both agree at once.
    ErrorTrap trap(Mode::SkipAndContinue);
    const bool on = stream >= 0;
    res().mnuDS->setChecked(on);
    trap.run([&] { form4().DVD->setShowSubtitles(on); });
    if (on)
        trap.run([&] { form4().DVD->SelectSubpictureStream(stream); });
    refreshCaptions();
}

} // namespace velmora
