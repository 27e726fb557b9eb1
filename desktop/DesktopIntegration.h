#pragma once
// The player's place on the desktop: media keys and desktop controls
// (MprisService), no screensaver while a title plays (ScreenSaverInhibitor)
// and resume points per disc (ResumeTracker), wired to the windows and to
// the engine of the current video window.
//
// The video window is rebuilt with a fresh engine when a folder is
// confirmed; a tick every TickMs notices the new engine and rebinds the
// three, and samples the playing state for the screensaver and the bus.
//
// UI thread only; one instance for the program (install once after the
// control panel is up).

#include "engine/DvdEngine.h"

#include <QDBusConnection>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace velmora {

class MprisService;
class ResumeTracker;
class ScreenSaverInhibitor;
class ResumeStore;

class DesktopIntegration : public QObject
{
    Q_OBJECT
public:
    static constexpr int TickMs = 250;
    static constexpr int OfferCaptionMs = 6000;

    // bus: the session bus to use (a disconnected one: run without it).
    // store: where resume points live (null: the per-user store).
    DesktopIntegration(const QDBusConnection &bus, std::unique_ptr<ResumeStore> store, QObject *parent = nullptr);
    ~DesktopIntegration() override;

    MprisService *mpris() const { return m_mpris; }       // null without a bus
    ResumeTracker *resume() const { return m_resume; }
    ScreenSaverInhibitor *screenSaver() const { return m_screenSaver; }
    // The caption shown on the video window while a resume point is offered.
    QLabel *offerCaption() const { return m_caption; }

    // One tick now (tests).
    void tick();

private:
    void showOffer(bool offered);
    void beforeExit();

    MprisService *m_mpris = nullptr;
    ResumeTracker *m_resume;
    ScreenSaverInhibitor *m_screenSaver;
    QPointer<DvdEngine> m_engine;
    QPointer<QLabel> m_caption;
    QTimer m_tick;
    QTimer m_captionTimer;
};

// Installs the program's instance on the session bus and the per-user store.
void installDesktopIntegration();

} // namespace velmora
