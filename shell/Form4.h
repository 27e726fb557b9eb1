#pragma once
// The video window: hosts the engine's picture as DVD, the information box
// ds with its five green captions, and the minimize / full screen / exit
// pictures at its top-right corner.
//
// It reacts to the engine's three signals: the current-time notification
// rewrites the time, chapter and title captions; the title information
// refreshes subtitles, title length and stream captions; a playback reset
// puts the seek bar to 1 and the time caption to its initial text. Every
// assignment of the time caption moves the seek bar (lTime_Change).

#include "engine/DvdEngine.h"

#include <QPointF>
#include <QSizeF>
#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace velmora {

class ImageButton;
class TimeLabel;
class ButtonSkinner;

class Form4 : public QWidget
{
    Q_OBJECT
public:
    // Designer client size in twips (611 x 412 pixels at 96 dpi).
    static constexpr double DesignWidth = 9165;
    static constexpr double DesignHeight = 6180;
    static constexpr int BackColour = 0x404040;
    static inline const QString InitialTime = QStringLiteral("Time: 00:00:00:00/00:00:00:00");

    explicit Form4(QWidget *parent = nullptr);
    ~Form4() override;

    DvdEngine *DVD;
    QWidget *ds;
    TimeLabel *lTime;
    QLabel *Chapter;
    QLabel *title;
    QLabel *Subtitle;
    QLabel *Audio;
    ImageButton *Picture1;
    ImageButton *Picture2;
    ImageButton *Picture3;
    QPushButton *Play;
    QPushButton *Pause;

    // The load sequence (run once by form4()).
    void Form_Load();
    // The three pictures to their normal looks.
    void Initial();
    // Centres the window (1200 twips above the centre line); hides Play and Pause.
    void centre();
    // Full-screen layout: the engine fills the screen, pictures hidden.
    void Fullscreen();
    // Back to the normal layout.
    void orgSkin();
    // The normal layout (runs on every resize).
    void Form_Resize();

    // 0 normal, 1 minimized, 2 maximized (full screen counts as 2).
    int WindowState() const;

    double Left() const { return m_left; }
    double Top() const { return m_top; }
    void setPosition(double left, double top);

    // Centre position for a window of windowTwips on a screen of screenTwips.
    static QPointF centrePosition(const QSizeF &screenTwips, const QSizeF &windowTwips);

    ButtonSkinner *skins() const { return m_skins; }

    // Engine events.
    void DVD_DVDNotify(int eventCode, qint64 param1, qint64 param2);
    void DVD_TitleInfoChanged();
    void DVD_PlaybackReset();
    void lTime_Change();

    // A one-line message over the picture (say, why a dropped path cannot
    // play); it goes away by itself after NoticeMs. notice() is the text
    // shown now, "" when none.
    static constexpr int NoticeMs = 5000;
    void showNotice(const QString &text);
    QString notice() const;

    void Form_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void Form_MouseMove(Qt::MouseButtons buttons);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void applyFullscreenLayout();
    Qt::Edges resizeEdges(const QPoint &pos) const;
    void wire();

    void placeNotice();

    ButtonSkinner *m_skins;
    QLabel *m_notice = nullptr;
    QTimer *m_noticeTimer = nullptr;
    bool m_fullscreen = false;
    bool m_dragArmed = false;
    double m_left = 0;
    double m_top = 0;
};

} // namespace velmora
