#include "Forms.h"

#include "Form4.h"
#include "Form6.h"
#include "ShellLinks.h"
#include "engine/core/PlaybackEngine.h"
#include "widgets/ProgressBar.h"
#include "widgets/TimeLabel.h"
#include "widgets/VDrive.h"

#include <QPointer>

namespace velmora {

namespace {

Form6 *g_form6 = nullptr;
Form4 *g_form4 = nullptr;
EngineFactory g_factory;

void installSources()
{
    // The time routines read the video window's caption and drive the
    // panel's seek bar; both windows are created on first reference.
    setVDriveSources([] { return form4().lTime->text(); }, [] { return form6().Seek; });
    installVideoWindowRebuilder();
}

} // namespace

Form6 &form6()
{
    if (!g_form6) {
        installSources();
        // Known before its load runs: the load reaches back to the panel.
        g_form6 = new Form6;
        g_form6->Form_Load();
    }
    return *g_form6;
}

bool form6Loaded()
{
    return g_form6 != nullptr;
}

Form4 &form4()
{
    if (!g_form4) {
        installSources();
        g_form4 = new Form4;
        g_form4->Form_Load();
    }
    return *g_form4;
}

bool form4Loaded()
{
    return g_form4 != nullptr;
}

void unloadForm4()
{
    if (!g_form4)
        return;
    Form4 *old = g_form4;
    g_form4 = nullptr;
    // The old engine must not reach the new window's captions.
    old->DVD->disconnect(old);
    old->hide();
    // Deleted once the event that asked for it has finished with it.
    old->deleteLater();
}

void setEngineFactory(EngineFactory factory)
{
    g_factory = std::move(factory);
}

DvdEngine *createEngine(QWidget *host)
{
    if (g_factory) {
        if (DvdEngine *engine = g_factory(host))
            return engine;
    }
    return createPlaybackEngine(host);
}

} // namespace velmora
