#include "Form4.h"

#include "Form6.h"
#include "Forms.h"
#include "ShellLinks.h"
#include "Twips.h"
#include "engine/ErrorTrap.h"
#include "widgets/ButtonLooks.h"
#include "widgets/ImageButton.h"
#include "widgets/ProgressBar.h"
#include "widgets/TimeLabel.h"
#include "widgets/VDrive.h"

#include <QCloseEvent>
#include <algorithm>
#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

namespace velmora {

namespace {

// The information box and its captions, in twips.
constexpr double InfoLeft = 840;
constexpr double InfoTop = 720;
constexpr double InfoWidth = 3600;  // wide enough for the longest time caption
constexpr double InfoHeight = 1215;
constexpr double LineHeight = 240;  // captions at 0, 240, 480, 720, 960

QColor fromBgr(int colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

} // namespace

Form4::Form4(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint),
      m_skins(new ButtonSkinner(SkinWindow::Video, this))
{
    setWindowTitle(QStringLiteral("Velmora"));
    setMouseTracking(true);
    // The buttons' tooltips also show while the other window of the player
    // is the active one (at start-up that is the video window).
    setAttribute(Qt::WA_AlwaysShowToolTips);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, fromBgr(BackColour));
    setPalette(pal);
    setAutoFillBackground(true);

    const double tpp = twipsPerPixel(this);
    resize(twipsToPixels(DesignWidth, tpp), twipsToPixels(DesignHeight, tpp));

    DVD = createEngine(this);
    DVD->setObjectName(QStringLiteral("DVD"));

    ds = new QWidget(this);
    ds->setObjectName(QStringLiteral("ds"));
    ds->setGeometry(twipsToPixels(InfoLeft, tpp), twipsToPixels(InfoTop, tpp), twipsToPixels(InfoWidth, tpp),
                    twipsToPixels(InfoHeight, tpp));
    ds->setAttribute(Qt::WA_TransparentForMouseEvents);

    QPalette green = ds->palette();
    green.setColor(QPalette::WindowText, fromBgr(0x00FF00));
    auto makeCaption = [&](QLabel *label, const char *name, const QString &text, int line) {
        label->setObjectName(QString::fromLatin1(name));
        label->setPalette(green);
        label->setGeometry(0, twipsToPixels(line * LineHeight, tpp), ds->width(), twipsToPixels(LineHeight, tpp));
        label->QLabel::setText(text);
    };
    lTime = new TimeLabel(ds);
    makeCaption(lTime, "lTime", InitialTime, 0);
    Chapter = new QLabel(ds);
    makeCaption(Chapter, "Chapter", QStringLiteral("Chapter: 00/00"), 1);
    title = new QLabel(ds);
    makeCaption(title, "title", QStringLiteral("Title: 00/00"), 2);
    Subtitle = new QLabel(ds);
    makeCaption(Subtitle, "Subtitle", QStringLiteral("Subtitle: Unknown"), 3);
    Audio = new QLabel(ds);
    makeCaption(Audio, "Audio", QStringLiteral("Audio: Unknown"), 4);

    auto makePicture = [this](ImageButton *&member, const char *name, const char *tip) {
        member = new ImageButton(this);
        member->setObjectName(QString::fromLatin1(name));
        member->setToolTip(QString::fromUtf8(tip));
        m_skins->add(member->objectName(), member);
    };
    makePicture(Picture1, "Picture1", "最小化");
    makePicture(Picture2, "Picture2", "全屏播放 [ Home ]");
    makePicture(Picture3, "Picture3", "退出 F4");

    Play = new QPushButton(QStringLiteral("Command1"), this);
    Play->setObjectName(QStringLiteral("Play"));
    Pause = new QPushButton(QStringLiteral("Command3"), this);
    Pause->setObjectName(QStringLiteral("Pause"));

    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("notice"));
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setWordWrap(true);
    m_notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_notice->setStyleSheet(QStringLiteral("QLabel { color: #ffffff; background: rgba(0, 0, 0, 170); padding: 6px; }"));
    m_notice->hide();
    m_noticeTimer = new QTimer(this);
    m_noticeTimer->setSingleShot(true);
    m_noticeTimer->setInterval(NoticeMs);
    connect(m_noticeTimer, &QTimer::timeout, m_notice, [this] {
        m_notice->clear();
        m_notice->hide();
    });

    wire();
    linkDiscDrops(this);
}

Form4::~Form4() = default;

void Form4::showNotice(const QString &text)
{
    m_notice->setText(text);
    placeNotice();
    m_notice->show();
    m_notice->raise();
    m_noticeTimer->start();
}

QString Form4::notice() const
{
    return m_notice->isVisible() || m_noticeTimer->isActive() ? m_notice->text() : QString();
}

void Form4::placeNotice()
{
    // Across the lower part of the picture, above the engine's surface.
    const int margin = 24;
    const int w = std::max(0, width() - 2 * margin);
    const int h = m_notice->heightForWidth(w) > 0 ? m_notice->heightForWidth(w) : m_notice->sizeHint().height();
    m_notice->setGeometry(margin, std::max(0, height() - h - 2 * margin), w, h);
}

void Form4::wire()
{
    connect(DVD, &DvdEngine::DVDNotify, this, &Form4::DVD_DVDNotify);
    connect(DVD, &DvdEngine::TitleInfoChanged, this, [this](int) { DVD_TitleInfoChanged(); });
    connect(DVD, &DvdEngine::PlaybackReset, this, [this](int) { DVD_PlaybackReset(); });
    connect(lTime, &TimeLabel::Change, this, &Form4::lTime_Change);
    connectVideoCommands(*this);
}

void Form4::Form_Load()
{
    Initial();
    centre();
    ds->hide();
    // From here on a failing step is skipped.
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([] { createVirtualDrive(); });
    trap.run([this] {
        const QString folder = savedDvdDirectory();
        if (!folder.isEmpty())
            DVD->setDVDDirectory(folder);
    });
    TitleSeconds = 1;
}

void Form4::Initial()
{
    m_skins->showNormal(QStringLiteral("Picture1"));
    m_skins->showNormal(QStringLiteral("Picture2"));
    m_skins->showNormal(QStringLiteral("Picture3"));
}

QPointF Form4::centrePosition(const QSizeF &screenTwips, const QSizeF &windowTwips)
{
    return {(screenTwips.width() - windowTwips.width()) / 2,
            (screenTwips.height() - windowTwips.height()) / 2 - 1200};
}

void Form4::setPosition(double left, double top)
{
    m_left = left;
    m_top = top;
    const double tpp = twipsPerPixel(this);
    move(twipsToPixels(left, tpp), twipsToPixels(top, tpp));
}

void Form4::centre()
{
    const double tpp = twipsPerPixel(this);
    const QPointF at = centrePosition(screenTwips(this), QSizeF(frameGeometry().size()) * tpp);
    setPosition(at.x(), at.y());
    Play->hide();
    Pause->hide();
}

int Form4::WindowState() const
{
    if (isMinimized())
        return 1;
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return 2;
    return 0;
}

void Form4::Form_Resize()
{
    // Every step runs even when an earlier one failed.
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([] {
        Form6 &panel = form6();
        if (panel.isHidden())
            panel.show();
    });
    const int w = width();
    const int h = height();
    trap.run([&] { DVD->Move(20, 50, w - 40, h - 70); });
    trap.run([&] {
        Picture1->moveTo(w - 105, 0);
        Picture2->moveTo(w - 70, 0);
        Picture3->moveTo(w - 35, 0);
    });
    trap.run([this] {
        Picture1->show();
        Picture2->show();
        Picture3->show();
    });
    trap.run([this] { ds->move(20, 50); });
    // Size changes arrive after Fullscreen() asked for them: in full screen
    // the full-screen layout always has the last word.
    if (m_fullscreen)
        applyFullscreenLayout();
}

void Form4::applyFullscreenLayout()
{
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([this] { DVD->Move(0, 0, width(), height()); });
    trap.run([this] { ds->move(1, 1); });
    trap.run([this] {
        Picture1->hide();
        Picture2->hide();
        Picture3->hide();
    });
}

void Form4::Fullscreen()
{
    m_fullscreen = true;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowFullScreen);
    Form_Resize();
}

void Form4::orgSkin()
{
    m_fullscreen = false;
    setWindowState(windowState() & ~(Qt::WindowFullScreen | Qt::WindowMaximized));
    Form_Resize();
}

void Form4::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
    if (m_notice->isVisible())
        placeNotice();
}

void Form4::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        Form_Resize();
}

void Form4::DVD_DVDNotify(int eventCode, qint64 param1, qint64)
{
    if (eventCode != DvdEngine::CurrentTime)
        return;
    // The first failing engine call ends this update; captions already
    // written keep their new text.
    ErrorTrap trap(ErrorTrap::Mode::EndOnFirstFailure);
    trap.run([&] {
        const QString now = DVD->TimeCodeToText(static_cast<std::int32_t>(param1));
        const QString total = DVD->TotalTitleTime();
        lTime->setText(QStringLiteral("时间: ") + now + QStringLiteral(" /") + total);
    });
    trap.run([&] {
        const int chapter = DVD->CurrentChapter();
        const int chapters = DVD->ChaptersInTitle(DVD->CurrentTitle());
        Chapter->setText(QStringLiteral("章节: ") + QString::number(chapter) + u'/' + QString::number(chapters));
    });
    trap.run([&] {
        const int current = DVD->CurrentTitle();
        const int titles = DVD->TitlesAvailable();
        title->setText(QStringLiteral("标题: ") + QString::number(current) + u'/' + QString::number(titles));
    });
}

void Form4::DVD_TitleInfoChanged()
{
    ErrorTrap trap(ErrorTrap::Mode::SkipAndContinue);
    trap.run([this] {
        if (subtitlesWanted())
            DVD->setShowSubtitles(true);
    });
    trap.run([] { ParseTitleLength(); });
    trap.run([this] { describeSubtitle(*DVD, *Subtitle); });
    trap.run([this] { describeAudio(*DVD, *Audio); });
}

void Form4::DVD_PlaybackReset()
{
    form6().Seek->setValue(1);
    lTime->setText(InitialTime);
}

void Form4::lTime_Change()
{
    TimeToPosition();
}

void Form4::Form_MouseDown(Qt::MouseButton button, const QPoint &)
{
    if (button == Qt::RightButton)
        popupContextMenu(this);
}

void Form4::Form_MouseMove(Qt::MouseButtons buttons)
{
    Initial();
    // One drag per press: the window manager (or the hand-made move) follows
    // the mouse from here until the release.
    if ((buttons & Qt::LeftButton) && m_dragArmed) {
        m_dragArmed = false;
        dragWindow(this);
    }
}

Qt::Edges Form4::resizeEdges(const QPoint &pos) const
{
    // The window has a border but no title bar: its outer few pixels resize it.
    constexpr int Grip = 5;
    Qt::Edges edges;
    if (WindowState() != 0)
        return edges;
    if (pos.x() < Grip)
        edges |= Qt::LeftEdge;
    if (pos.x() >= width() - Grip)
        edges |= Qt::RightEdge;
    if (pos.y() < Grip)
        edges |= Qt::TopEdge;
    if (pos.y() >= height() - Grip)
        edges |= Qt::BottomEdge;
    return edges;
}

void Form4::closeEvent(QCloseEvent *event)
{
    // Closed by the window manager (its close button or shortcut): leave the
    // way the exit picture does, so the scratch drive is removed too.
    event->ignore();
    exitProgram();
}

void Form4::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const Qt::Edges edges = resizeEdges(event->position().toPoint());
        if (edges && windowHandle() && windowHandle()->startSystemResize(edges)) {
            event->accept();
            return;
        }
        m_dragArmed = true;
    }
    Form_MouseDown(event->button(), event->globalPosition().toPoint());
    event->accept();
}

void Form4::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::NoButton) {
        const Qt::Edges edges = resizeEdges(event->position().toPoint());
        if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
            setCursor(Qt::SizeFDiagCursor);
        else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
            setCursor(Qt::SizeBDiagCursor);
        else if (edges & (Qt::LeftEdge | Qt::RightEdge))
            setCursor(Qt::SizeHorCursor);
        else if (edges)
            setCursor(Qt::SizeVerCursor);
        else
            unsetCursor();
    }
    Form_MouseMove(event->buttons());
    event->accept();
}

} // namespace velmora
