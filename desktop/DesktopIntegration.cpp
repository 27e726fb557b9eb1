#include "DesktopIntegration.h"

#include "MprisService.h"
#include "ResumeTracker.h"
#include "ScreenSaverInhibitor.h"
#include "commands/Res.h"
#include "engine/DvdEngine.h"
#include "services/ResumeStore.h"
#include "shell/Form4.h"
#include "shell/Forms.h"

#include <QApplication>
#include <QLabel>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcDesktop, "velmora.desktop")

namespace velmora {

DesktopIntegration::DesktopIntegration(const QDBusConnection &bus, std::unique_ptr<ResumeStore> store,
                                       QObject *parent)
    : QObject(parent),
      m_resume(new ResumeTracker(store ? std::move(store) : std::make_unique<ResumeStore>(), this)),
      m_screenSaver(new ScreenSaverInhibitor(bus, this))
{
    auto *mpris = new MprisService(this);
    QString why;
    if (mpris->registerOn(bus, &why)) {
        m_mpris = mpris;
    } else {
        delete mpris;
        qCInfo(lcDesktop, "media keys and desktop controls are off: %s", qPrintable(why));
    }

    Res &menu = res();
    connect(menu.mnuResume, &QAction::triggered, this, [this] { m_resume->resume(); });
    connect(m_resume, &ResumeTracker::offerChanged, this, &DesktopIntegration::showOffer);
    menu.addExitHook([self = QPointer<DesktopIntegration>(this)] {
        if (self)
            self->beforeExit();
    });

    m_captionTimer.setSingleShot(true);
    m_captionTimer.setInterval(OfferCaptionMs);
    connect(&m_captionTimer, &QTimer::timeout, this, [this] {
        if (m_caption)
            m_caption->hide();
    });
    m_tick.setInterval(TickMs);
    connect(&m_tick, &QTimer::timeout, this, &DesktopIntegration::tick);
    m_tick.start();
    tick();
}

DesktopIntegration::~DesktopIntegration() = default;

void DesktopIntegration::tick()
{
    DvdEngine *engine = form4Loaded() ? form4().DVD : nullptr;
    if (engine != m_engine) {
        m_engine = engine;
        m_resume->bind(engine);
        if (m_mpris)
            m_mpris->bind(engine);
    }
    // Only a title at normal speed keeps the screensaver away: not paused,
    // stopped, scanning, or in a menu.
    m_screenSaver->setWanted(engine && engine->playState() == DvdEngine::PlayState::Playing);
    if (m_mpris)
        m_mpris->refresh();
}

void DesktopIntegration::showOffer(bool offered)
{
    Res &menu = res();
    menu.mnuResume->setEnabled(offered);
    const std::optional<ResumePoint> point = m_resume->offered();
    if (!offered || !point) {
        m_captionTimer.stop();
        if (m_caption)
            m_caption->hide();
        return;
    }
    Form4 &video = form4();
    if (!m_caption || m_caption->parentWidget() != &video) {
        delete m_caption.data();
        m_caption = new QLabel(&video);
        m_caption->setObjectName(QStringLiteral("resumeOffer"));
        m_caption->setStyleSheet(QStringLiteral("color: #00ff00; background: rgba(0, 0, 0, 160); padding: 4px;"));
        m_caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_caption->setText(ResumeTracker::offerCaption(*point));
    m_caption->adjustSize();
    // Lower left of the picture, clear of the information box at the top.
    m_caption->move(24, std::max(0, video.height() - m_caption->height() - 28));
    m_caption->show();
    m_caption->raise();
    m_captionTimer.start();
}

void DesktopIntegration::beforeExit()
{
    m_resume->saveNow();
    m_screenSaver->setWanted(false);
}

void installDesktopIntegration()
{
    static DesktopIntegration *instance = nullptr;
    if (!instance)
        instance = new DesktopIntegration(QDBusConnection::sessionBus(), nullptr, qApp);
}

} // namespace velmora
