#include "Form6.h"

#include "Form4.h"
#include "Forms.h"
#include "ShellLinks.h"
#include "Twips.h"
#include "widgets/ButtonLooks.h"
#include "widgets/ImageButton.h"
#include "widgets/ProgressBar.h"
#include "widgets/Skn.h"

#include <QCloseEvent>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace velmora {

namespace {

// The seek bar's spot on the panel, in twips (the layout pass leaves it there).
constexpr double SeekLeft = 2040;
constexpr double SeekTop = 240;
constexpr double SeekWidth = 4095;
constexpr double SeekHeight = 135;

// The volume slider sits on the groove drawn into the panel skin: only its
// handle is painted.
const char *const SliderStyle =
    "QSlider { background: transparent; }"
    "QSlider::groove:horizontal { height: 2px; background: transparent; margin: 0 2px; }"
    "QSlider::handle:horizontal { width: 6px; margin: -4px 0; border-radius: 2px;"
    "  border: 1px solid #1c2a44; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
    "  stop:0 #e8eefc, stop:1 #8aa2d8); }";

} // namespace

Form6::Form6(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      m_skins(new ButtonSkinner(SkinWindow::Panel, this))
{
    setWindowTitle(QStringLiteral("Velmora"));
    if (!skn().icon().isNull())
        setWindowIcon(skn().icon());
    setMouseTracking(true);
    // The buttons' tooltips also show while the other window of the player
    // is the active one (at start-up that is the video window).
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_OpaquePaintEvent);

    auto makeButton = [this](ImageButton *&member, const char *name, const char *tip) {
        member = new ImageButton(this);
        member->setObjectName(QString::fromLatin1(name));
        if (tip)
            member->setToolTip(QString::fromUtf8(tip));
        m_skins->add(member->objectName(), member);
    };
    makeButton(Playi, "Playi", "播放 [ Enter ]");
    makeButton(Pausei, "Pausei", nullptr);
    makeButton(Stopi, "Stopi", "停止 [ Space ]");
    makeButton(Previ, "Previ", "上一章节 [ Left Arrow ]");
    makeButton(Nexti, "Nexti", "下一章节 [ Right Arrow ]");
    makeButton(FBi, "FBi", "上一页");
    makeButton(FFi, "FFi", "下一页");
    makeButton(Ejecti, "Ejecti", "弹出 CD/DVD");
    makeButton(Op, "Op", "打开文件  [ 快捷键 = O ]");
    makeButton(Mute, "Mute", "静音 [ M ]");
    makeButton(MuteOff, "MuteOff", nullptr);
    makeButton(Image1, "Image1", "增加音量 [ + ]");
    makeButton(Image2, "Image2", "减小音量 [ - ]");
    makeButton(Picture1, "Picture1", "最小化");
    makeButton(Picture2, "Picture2", "全屏 [ 快捷键 = Home ]");
    makeButton(Picture3, "Picture3", "退出 [ 快捷键 = F4 ]");

    const double tpp = twipsPerPixel(this);
    Seek = new ProgressBar(this);
    Seek->setObjectName(QStringLiteral("Seek"));
    Seek->setToolTip(QString::fromUtf8("导航条"));
    Seek->setGeometry(twipsToPixels(SeekLeft, tpp), twipsToPixels(SeekTop, tpp),
                      twipsToPixels(SeekWidth, tpp), twipsToPixels(SeekHeight, tpp));

    Slider1 = new QSlider(Qt::Horizontal, this);
    Slider1->setObjectName(QStringLiteral("Slider1"));
    Slider1->setToolTip(QString::fromUtf8("音量控制滑块"));
    Slider1->setStyleSheet(QString::fromLatin1(SliderStyle));
    Slider1->setFocusPolicy(Qt::NoFocus);
    Slider1->resize(58, 10);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(3000);

    // Two plain buttons kept below the visible part of the panel.
    PlayT = new QPushButton(QStringLiteral("Play"), this);
    PlayT->setObjectName(QStringLiteral("PlayT"));
    PlayT->setGeometry(10, 130, 60, 24);
    Pause = new QPushButton(QStringLiteral("Pause"), this);
    Pause->setObjectName(QStringLiteral("Pause"));
    Pause->setGeometry(80, 130, 60, 24);

    wire();
}

Form6::~Form6() = default;

void Form6::wire()
{
    connect(Image1, &ImageButton::clicked, this, &Form6::Volup);
    connect(Image2, &ImageButton::clicked, this, &Form6::VolDown);
    connect(Mute, &ImageButton::clicked, this, [] { setEngineMute(true); });
    connect(MuteOff, &ImageButton::clicked, this, [] { setEngineMute(false); });
    connect(Slider1, &QSlider::valueChanged, this, &Form6::Slider1_Change);
    // The seek goes to the engine of the video window (created if need be).
    Seek->setPlayAtTime([](const QString &timeCode) { form4().DVD->PlayAtTime(timeCode); });
    connectPanelCommands(*this);
    connectPanelTimers(*this);
    linkDiscDrops(this);
}

QPointF Form6::startPosition(const QSizeF &screenTwips)
{
    return {(screenTwips.width() - DesignWidth) / 2, screenTwips.height() - DesignHeight - 1800};
}

void Form6::setPosition(double left, double top)
{
    m_left = left;
    m_top = top;
    const double tpp = twipsPerPixel(this);
    move(twipsToPixels(left, tpp), twipsToPixels(top, tpp));
}

void Form6::setSize(double width, double height)
{
    m_width = width;
    m_height = height;
    const double tpp = twipsPerPixel(this);
    resize(twipsToPixels(width, tpp), twipsToPixels(height, tpp));
}

void Form6::Form_Load()
{
    // Centred for the designer width, near the bottom for the designer
    // height; loadi then shrinks the panel without moving it.
    const QPointF start = startPosition(screenTwips(this));
    setPosition(start.x(), start.y());
    Intial();
    loadi();

    mixerInit(0);
    // Wave output to full (the mixer clamps to its maximum); master untouched.
    mixerSetVolume(5, 65535);
    Slider1->setMaximum(100);
    {
        // The slider reports user changes only: showing the current master
        // volume must not write it back.
        const QSignalBlocker quiet(Slider1);
        Slider1->setValue(mixerGetVolume(0));
    }

    Timer1->start();
    Timer2->start();
}

void Form6::Intial()
{
    // In this order; each is the button's normal look.
    static const char *const names[] = {"Op", "Playi", "Previ", "FBi", "FFi", "Nexti", "Stopi", "Ejecti",
                                        "Image1", "Image2", "Picture1", "Picture2", "Picture3", "Pausei",
                                        "Mute", "MuteOff"};
    for (const char *name : names)
        m_skins->showNormal(QString::fromLatin1(name));
}

void Form6::loadi()
{
    setSize(LoadWidth, LoadHeight);
    // The first reference creates the video window and runs its whole load.
    const QColor colour = form4().palette().color(QPalette::Window);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, colour);
    setPalette(pal);
    static const char *const names[] = {"Playi", "Previ", "FBi", "FFi", "Nexti", "Ejecti", "Image1", "Image2",
                                        "Picture1", "Picture2", "Picture3", "Stopi", "Op", "Mute", "Pausei",
                                        "MuteOff"};
    for (const char *name : names)
        m_skins->showNormal(QString::fromLatin1(name));
}

void Form6::Volup()
{
    Slider1->setValue(Slider1->value() + 10);
    mixerSetVolume(0, Slider1->value());
}

void Form6::VolDown()
{
    Slider1->setValue(Slider1->value() - 10);
    mixerSetVolume(0, Slider1->value());
}

void Form6::Slider1_Change(int value)
{
    mixerSetVolume(0, value);
}

int Form6::WindowState() const
{
    if (isMinimized())
        return 1;
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return 2;
    return 0;
}

void Form6::Form_Resize()
{
    const double sw = width();
    Slider1->setGeometry(int(sw / 2 + 125), 85, 58, Slider1->height());
    Playi->moveTo(82, 47);
    Pausei->moveTo(82, 47);
    Ejecti->setSpot(297, 48, 37, 22);
    Pausei->hide();
    Nexti->setSpot(262, 48, 37, 22);
    FBi->setSpot(192, 48, 37, 22);
    FFi->setSpot(227, 48, 37, 22);
    Previ->setSpot(157, 48, 37, 22);
    Picture1->moveTo(width() - 105, 0);
    Picture2->moveTo(width() - 70, 0);
    Picture3->moveTo(width() - 35, 0);
    // While minimized the video window stays as it is.
    if (WindowState() == 0) {
        Form4 &video = form4();
        if (video.isHidden())
            video.show();
    }
    Stopi->moveTo(115, 48);
    MuteOff->hide();
    MuteOff->moveTo(308, 83);
    Mute->moveTo(308, 83);
    Op->moveTo(350, 64);
    Image1->moveTo(int(width() / 2.0 + 186), 83);
    Image2->moveTo(321, 83);
}

void Form6::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form6::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Minimizing and restoring resize the window: the layout pass runs.
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void Form6::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.drawPixmap(0, 0, skn().panelBackground());
}

void Form6::Form_MouseDown(Qt::MouseButton button, const QPoint &)
{
    if (button == Qt::RightButton)
        popupContextMenu(this);
}

void Form6::Form_MouseMove(Qt::MouseButtons buttons)
{
    Intial();
    Timer2->stop();
    // One drag per press: the window manager (or the hand-made move) follows
    // the mouse from here until the release.
    if ((buttons & Qt::LeftButton) && m_dragArmed) {
        m_dragArmed = false;
        dragWindow(this);
    }
}

void Form6::closeEvent(QCloseEvent *event)
{
    // Closed by the window manager (its close button or shortcut): leave the
    // way the exit picture does, so the scratch drive is removed too.
    event->ignore();
    exitProgram();
}

void Form6::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragArmed = true;
    Form_MouseDown(event->button(), event->globalPosition().toPoint());
    event->accept();
}

void Form6::mouseMoveEvent(QMouseEvent *event)
{
    Form_MouseMove(event->buttons());
    event->accept();
}

} // namespace velmora
