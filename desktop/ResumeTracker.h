#pragma once
// Keeps each disc's resume point up to date and offers it when the disc
// starts again.
//
// It follows one engine at a time (bind). From the engine's current-time
// notifications it knows the title and time on screen; it writes them to the
// ResumeStore under the disc's id
//   - every WriteIntervalMs while a title plays,
//   - when the title is left (Stop, a jump, a reset) away from its end,
//   - when another disc is opened or another engine is bound,
//   - on saveNow() (the exit routine).
// When a title is left within EndMarginSeconds of its end (it played to its
// end and the disc's own command moved on), the disc's point is cleared.
//
// When the engine announces a disc id that has a stored point, offered()
// holds it and offerChanged reports it; resume() plays it. Nothing resumes by
// itself.
//
// UI thread only.

#include "engine/DvdEngine.h"
#include "services/ResumeStore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

namespace velmora {

class ResumeTracker : public QObject
{
    Q_OBJECT
public:
    static constexpr int WriteIntervalMs = 10000;
    static constexpr int EndMarginSeconds = 3;

    // store: where points live (owned by the tracker).
    explicit ResumeTracker(std::unique_ptr<ResumeStore> store, QObject *parent = nullptr);
    ~ResumeTracker() override;

    // Follows engine (nullptr: none). The point of the disc followed so far
    // is written first.
    void bind(DvdEngine *engine);
    DvdEngine *engine() const { return m_engine; }
    // How often the point is written while a title plays (tests shorten it).
    void setWriteInterval(int ms) { m_writeIntervalMs = ms; }
    // Writes the point of the title on screen now (if any).
    void saveNow();

    std::optional<ResumePoint> offered() const { return m_offered; }
    // Plays the offered point (then no longer offers it). Engine refusals
    // are ignored; false when nothing was offered.
    bool resume();

    // "继续上次播放: 标题 N hh:mm:ss (右键菜单)"
    static QString offerCaption(const ResumePoint &point);

signals:
    // A point is offered (true) or no longer offered (false).
    void offerChanged(bool offered);

private:
    void onNotify(int code, qint64 param1);
    void onIdentified(const QString &discId);
    // The title on screen was left: clears the point after its end, else writes it.
    void leaveTitle();
    void write();
    void setOffer(std::optional<ResumePoint> point);

    std::unique_ptr<ResumeStore> m_store;
    QPointer<DvdEngine> m_engine;
    QString m_discId;           // the disc m_title belongs to ("" while unknown)
    int m_title = 0;            // the title on screen, 0 none
    QString m_time;             // its time code on screen
    int m_seconds = 0;          // m_time in whole seconds
    int m_length = 0;           // the title's length in whole seconds, 0 unknown
    QElapsedTimer m_sinceWrite; // since the last periodic write
    int m_writeIntervalMs = WriteIntervalMs;
    std::optional<ResumePoint> m_offered;
};

} // namespace velmora
