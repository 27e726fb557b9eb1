// End to end on a real X display with a window manager: the player's two
// windows as the user sees them. The player plays disc B in its own process;
// xdotool drives the mouse and the keyboard, and the screen's pixels are
// compared with the skin pictures the buttons must show.
//
// What is checked: where both windows open, that the panel shows its skin
// with every button's picture on its spot, the video window's layout (also
// after a resize by its border), that the buttons light up under the mouse
// and when pressed and go back to normal over the background, that dragging
// moves each window, and full screen: Home enters and leaves it, and a click
// brings the panel in front of it for a while.
//
// Skips without xdotool, xwininfo, the player binary or the authored disc.

#include "tests/support/DesktopDriver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

using velmora::testing::pixels;
using velmora::testing::text;
using velmora::testing::twipsPerPixel;
using velmora::testing::waitFor;
using velmora::testing::xdotool;
using velmora::testing::xwininfoRect;

// A skin picture by name, as delivered with the player.
QImage skin(const QString &name)
{
    for (const char *ext : {".bmp", ".gif"}) {
        const QString file = QStringLiteral(VELMORA_SKIN_DIR "/") + name + QLatin1String(ext);
        if (QFileInfo::exists(file))
            return QImage(file).convertToFormat(QImage::Format_ARGB32);
    }
    return {};
}

// Pixels of shot (at offset) that differ from the opaque pixels of picture.
int differences(const QImage &shot, const QPoint &offset, const QImage &picture)
{
    int count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb want = picture.pixel(x, y);
            if (qAlpha(want) != 255)
                continue;
            const QPoint at = offset + QPoint(x, y);
            if (!shot.rect().contains(at) || (shot.pixel(at) & 0xFFFFFF) != (want & 0xFFFFFF))
                ++count;
        }
    }
    return count;
}

// A button of either window: its spot (pixels from the window's top-left
// corner, right-hand pictures from the right edge) and its pictures.
struct Button
{
    bool video;
    const char *name;
    int left;      // negative: from the window's right edge
    int top;
    const char *normal;
    const char *over;
    const char *pressed;
    const char *release;
};

// Every button visible after start-up (disc playing, sound on), at the
// panel's load width of 418 pixels.
const Button Buttons[] = {
    {false, "Playi", 82, 47, "pn", "pm", "pd", "pn"},
    {false, "Stopi", 115, 48, "tdN", "tdM", "tdd", "tdN"},
    {false, "Previ", 157, 48, "PrevN", "PrevM", "PrevD", "PrevN"},
    {false, "FBi", 192, 48, "SBiN", "SBiM", "SBiD", "SBiN"},
    {false, "FFi", 227, 48, "SFiN", "SFiM", "SFiD", "SFiN"},
    {false, "Nexti", 262, 48, "NextN", "NextM", "NextD", "NextN"},
    {false, "Ejecti", 297, 48, "EjectN", "EjectM", "EjectD", "EjectN"},
    {false, "Op", 350, 64, "Opn", "Opm", "Opn", "Opn"},
    {false, "Mute", 308, 83, "Moni", "Momi", "Modi", "Moni"},
    {false, "Image2", 321, 83, "MinusN", "MinusM", "MinusD", "MinusN"},
    {false, "Image1", 395, 83, "PlusN", "PlusM", "PlusD", "PlusM"},
    {false, "Picture1", -105, 0, "MinN", "MinM", "MinD", "MinN"},
    {false, "Picture2", -70, 0, "MaxN", "MaxM", "MaxD", "MaxN"},
    {false, "Picture3", -35, 0, "CrssN", "CrssM", "CrssD", "CrssN"},
    {true, "Picture1", -105, 0, "MinN", "MinM", "MinD", "MinN"},
    {true, "Picture2", -70, 0, "MaxN", "MaxM", "MaxD", "MaxN"},
    {true, "Picture3", -35, 0, "CrssN", "CrssM", "CrssD", "CrssM"},
};

// Bare background: the panel's bottom left corner below the disc emblem, the
// video window's band above the picture.
const QPoint PanelBackground(20, 100);
const QPoint VideoBackground(100, 25);

const QRgb WindowColour = 0x404040;

} // namespace

Q_DECLARE_METATYPE(const Button *)

class TestWindowsX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void bothWindowsOpenInPlace();
    void panelShowsItsSkin();
    void videoWindowLayout();
    void resizeByTheBorder();
    void hoverAndPressImages_data();
    void hoverAndPressImages();
    void tooltipOverTheInactivePanel();
    void dragMovesTheWindow_data();
    void dragMovesTheWindow();
    void homeEntersFullScreen();
    void clickInFullScreenShowsThePanelAWhile();
    void homeLeavesFullScreen();

private:
    // Client area of the panel or the video window in screen pixels; null
    // while it is not on screen.
    QRect window(bool video) const;
    // The outer frame the window manager put around it.
    QRect frame(bool video) const;
    // Every window of the player on screen, tooltips and menus included.
    QStringList visibleWindows() const;
    QImage grab(const QRect &r) const
    {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    // Empty while the video window shows its normal layout, else what is wrong.
    QString videoLayoutProblem() const;
    QPoint spot(const Button &b) const
    {
        const QRect w = window(b.video);
        return w.topLeft() + QPoint(b.left < 0 ? w.width() + b.left : b.left, b.top);
    }
    // Screen pixels of the button that differ from the named picture.
    int showing(const Button &b, const char *picture) const
    {
        const QImage want = skin(QLatin1String(picture));
        return differences(grab(QRect(spot(b), want.size())), QPoint(), want);
    }
    bool waitForPicture(const Button &b, const char *picture) const
    {
        return waitFor([&] { return showing(b, picture) == 0; });
    }
    void mouseTo(const QPoint &p) const { xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}); }
    // With VELMORA_TEST_SHOTS naming a folder, each stage leaves a picture
    // of the whole screen there, to be looked at by eye.
    void snapshot(const QString &stage) const
    {
        const QString folder = qEnvironmentVariable("VELMORA_TEST_SHOTS");
        if (!folder.isEmpty())
            QGuiApplication::primaryScreen()->grabWindow(0).save(QDir(folder).filePath(stage + ".png"));
    }

    QTemporaryDir m_home;
    QProcess m_player;
    QRect m_normal; // the video window's frame before full screen
    QString m_panelId;
    QString m_videoId;
};

void TestWindowsX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display");
    for (const char *tool : {"xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("needs xdotool and xwininfo");
    }
    const QString disc = QStringLiteral(VELMORA_DISC_DIR "/B");
    if (!QFileInfo::exists(QStringLiteral(VELMORA_PLAYER)) || !QFileInfo::exists(disc + "/VIDEO_TS/VIDEO_TS.IFO"))
        QSKIP("needs the player and disc B");
    QVERIFY(!skin(QStringLiteral("panel")).isNull());

    // The pointer waits in a corner that neither window covers.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    mouseTo(QPoint(screen.width() - 5, 5));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        env.insert(QLatin1String(var), m_home.filePath(QLatin1String(var)));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_player.setProcessEnvironment(env);
    m_player.setProcessChannelMode(QProcess::ForwardedChannels);
    m_player.start(QStringLiteral(VELMORA_PLAYER), {disc});
    // The two windows (the tooltips carry the same title): the video window
    // is the taller one.
    QVERIFY2(waitFor([this] {
        for (const QString &id : xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId()),
                                          "--name", "^Velmora$"}).split(u'\n', Qt::SkipEmptyParts)) {
            const QRect r = xwininfoRect(id, false);
            (r.height() > 200 ? m_videoId : m_panelId) = id;
        }
        return !m_panelId.isEmpty() && !m_videoId.isEmpty();
    }, 15000), "the two windows did not come up");
    // Both windows painted: the panel's skin and the video window's pictures.
    const Button &exit = Buttons[std::size(Buttons) - 1];
    QVERIFY2(waitForPicture(Buttons[0], "pn") && waitForPicture(exit, "CrssN"), "the windows were not painted");
    snapshot(QStringLiteral("1-start"));
}

void TestWindowsX11::cleanupTestCase()
{
    if (m_player.state() == QProcess::NotRunning)
        return;
    xdotool({"key", "F4"});
    if (!m_player.waitForFinished(5000)) {
        m_player.kill();
        m_player.waitForFinished();
    }
}

QStringList TestWindowsX11::visibleWindows() const
{
    return xdotool({"search", "--onlyvisible", "--pid", QString::number(m_player.processId())})
        .split(u'\n', Qt::SkipEmptyParts);
}

QRect TestWindowsX11::window(bool video) const
{
    return xwininfoRect(video ? m_videoId : m_panelId, false);
}

QRect TestWindowsX11::frame(bool video) const
{
    return xwininfoRect(video ? m_videoId : m_panelId, true);
}

void TestWindowsX11::bothWindowsOpenInPlace()
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const double tpp = twipsPerPixel();

    // The panel: borderless, at its load size; centred for its designer
    // width of 6315 twips, its top edge 3510 twips above the screen's bottom.
    const QRect panel = window(false);
    QCOMPARE(frame(false), panel);
    QCOMPARE(panel.size(), QSize(pixels(6275), pixels(1690)));
    const QPoint panelAt(pixels((screen.width() * tpp - 6315) / 2), pixels(screen.height() * tpp - 3510));
    QVERIFY2((panel.topLeft() - panelAt).manhattanLength() <= 1,
             qPrintable("panel at " + text(panel) + QStringLiteral(", expected %1,%2").arg(panelAt.x()).arg(panelAt.y())));

    // The video window: 611 x 412 of client area, centred horizontally,
    // 1200 twips above the vertical centre.
    const QRect video = window(true);
    const QRect outer = frame(true);
    QCOMPARE(video.size(), QSize(pixels(9165), pixels(6180)));
    const QPoint videoAt(pixels((screen.width() - outer.width()) * tpp / 2),
                         pixels((screen.height() - outer.height()) * tpp / 2 - 1200));
    QVERIFY2((outer.topLeft() - videoAt).manhattanLength() <= 1,
             qPrintable("video window at " + text(outer) + QStringLiteral(", expected %1,%2").arg(videoAt.x()).arg(videoAt.y())));
}

void TestWindowsX11::panelShowsItsSkin()
{
    // What the panel must look like: its background bitmap with every
    // visible button's normal picture on its spot. The seek bar and the
    // volume slider's handle move with playback and volume and are left out.
    QImage want = skin(QStringLiteral("panel"));
    {
        QPainter painter(&want);
        for (const Button &b : Buttons) {
            if (!b.video)
                painter.drawImage(b.left < 0 ? want.width() + b.left : b.left, b.top, skin(QLatin1String(b.normal)));
        }
    }
    const QRect panel = window(false);
    const QList<QRect> moving{QRect(135, 15, 275, 11), QRect(334, 80, 58, 16)};
    QImage shot;
    QList<QPoint> wrong;
    // The panel repaints as playback goes on: the skin must hold in a quiet shot.
    waitFor([&] {
        shot = grab(panel);
        wrong.clear();
        for (int y = 0; y < want.height(); ++y) {
            for (int x = 0; x < want.width(); ++x) {
                const QPoint p(x, y);
                if (std::none_of(moving.begin(), moving.end(), [&](const QRect &r) { return r.contains(p); })
                    && (shot.pixel(p) & 0xFFFFFF) != (want.pixel(p) & 0xFFFFFF))
                    wrong.append(p);
            }
        }
        return wrong.isEmpty();
    });
    if (!wrong.isEmpty())
        shot.save(QDir::temp().filePath(QStringLiteral("velmora-panel.png")));
    QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 pixels differ from the skin, the first at %2,%3 "
                                                        "(the shot is in the temp folder as velmora-panel.png)")
                                             .arg(wrong.size())
                                             .arg(wrong.value(0).x())
                                             .arg(wrong.value(0).y())));
}

QString TestWindowsX11::videoLayoutProblem() const
{
    // Normal layout: the picture 20 pixels in from the left, right and
    // bottom with a 50-pixel band above it. The window's dark grey shows in
    // those margins and nowhere on the picture's outer rows and columns.
    const QImage shot = grab(window(true));
    const int w = shot.width();
    const int h = shot.height();
    const QRect picture(20, 50, w - 40, h - 70);
    const QList<QRect> margins{QRect(0, 0, w - 110, 50), QRect(0, 50, 20, h - 50), QRect(w - 20, 50, 20, h - 50),
                               QRect(0, h - 20, w, 20)};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QPoint p(x, y);
            const bool grey = (shot.pixel(p) & 0xFFFFFF) == WindowColour;
            const bool margin = std::any_of(margins.begin(), margins.end(), [&](const QRect &r) { return r.contains(p); });
            const bool edge = picture.contains(p)
                && (x == picture.left() || x == picture.right() || y == picture.top() || y == picture.bottom());
            if ((margin && !grey) || (edge && grey))
                return QStringLiteral("%1 pixel %2,%3 is %4")
                    .arg(margin ? "margin" : "picture")
                    .arg(x)
                    .arg(y)
                    .arg(shot.pixel(p) & 0xFFFFFF, 6, 16, QLatin1Char('0'));
        }
    }
    // The three pictures at the top right.
    for (const Button &b : Buttons) {
        if (b.video && showing(b, b.normal) != 0)
            return QLatin1String(b.name) + QLatin1String(" is not on its spot");
    }
    return {};
}

void TestWindowsX11::videoWindowLayout()
{
    QString problem;
    waitFor([&] { return (problem = videoLayoutProblem()).isEmpty(); });
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestWindowsX11::resizeByTheBorder()
{
    // The window has a border without a title bar: its bottom right corner
    // resizes it, and the layout follows the new size.
    const QRect before = window(true);
    const QPoint corner = before.bottomRight() - QPoint(1, 1);
    const QPoint delta(-100, -80);
    mouseTo(corner);
    QTest::qWait(100);
    xdotool({"mousedown", "1"});
    QTest::qWait(100);
    for (int step = 1; step <= 10; ++step) {
        mouseTo(corner + delta * step / 10);
        QTest::qWait(30);
    }
    xdotool({"mouseup", "1"});
    const QSize want = before.size() + QSize(delta.x(), delta.y());
    QRect after;
    const bool resized = waitFor([&] {
        after = window(true);
        return qAbs(after.width() - want.width()) <= 3 && qAbs(after.height() - want.height()) <= 3;
    });
    QVERIFY2(resized, qPrintable("from " + text(before) + " to " + text(after)));
    QCOMPARE(after.topLeft(), before.topLeft());
    QString problem;
    waitFor([&] { return (problem = videoLayoutProblem()).isEmpty(); });
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    snapshot(QStringLiteral("1-resized"));
    mouseTo(after.topLeft() + VideoBackground);
}

void TestWindowsX11::hoverAndPressImages_data()
{
    QTest::addColumn<const Button *>("button");
    for (const Button &b : Buttons)
        QTest::newRow(qPrintable(QLatin1String(b.video ? "video " : "panel ") + QLatin1String(b.name))) << &b;
}

void TestWindowsX11::hoverAndPressImages()
{
    QFETCH(const Button *, button);
    const Button &b = *button;
    const QPoint background = window(b.video).topLeft() + (b.video ? VideoBackground : PanelBackground);
    const QSize size = skin(QLatin1String(b.normal)).size();
    // The pointer rests on the picture's bottom row, so a tooltip opens
    // below the picture, not over it.
    const QPoint on = spot(b) + QPoint(size.width() / 2, size.height() - 1);

    mouseTo(background);
    QVERIFY2(waitForPicture(b, b.normal), "not normal over the background to begin with");
    mouseTo(on);
    QVERIFY2(waitForPicture(b, b.over), "no mouse-over picture");
    const QString row = QLatin1String(b.video ? "video-" : "panel-") + QLatin1String(b.name);
    snapshot("2-over-" + row);
    xdotool({"mousedown", "1"});
    const bool pressed = waitForPicture(b, b.pressed);
    snapshot("3-pressed-" + row);
    // Moving off with the button held: the press stays with the button,
    // which shows its mouse-over picture; releasing away from it is no click.
    mouseTo(background);
    const bool heldOver = waitForPicture(b, b.over);
    xdotool({"mouseup", "1"});
    QVERIFY2(pressed, "no pressed picture");
    QVERIFY2(heldOver, "moving with the button held did not show the mouse-over picture");
    QVERIFY2(waitForPicture(b, b.release), "wrong picture after the release");
    mouseTo(background + QPoint(3, 0));
    QVERIFY2(waitForPicture(b, b.normal), "the background did not put the normal picture back");
    QVERIFY2(m_player.state() == QProcess::Running, "the player ended");
}

void TestWindowsX11::tooltipOverTheInactivePanel()
{
    // With the video window active, resting the pointer on a panel button
    // still shows the button's tooltip, just below the pointer.
    mouseTo(window(true).topLeft() + VideoBackground);
    xdotool({"click", "1"});
    QVERIFY2(waitFor([this] { return xdotool({"getactivewindow"}) == m_videoId; }),
             "the video window did not take the focus");
    const Button &next = *std::find_if(std::begin(Buttons), std::end(Buttons),
                                       [](const Button &b) { return QLatin1String(b.name) == u"Nexti"; });
    const QSize size = skin(QLatin1String(next.normal)).size();
    const QPoint on = spot(next) + QPoint(size.width() / 2, size.height() - 1);
    mouseTo(on);
    QTest::qWait(50);
    mouseTo(on + QPoint(1, 0));
    QString tip;
    const bool shown = waitFor([&] {
        for (const QString &id : visibleWindows()) {
            if (id != m_panelId && id != m_videoId)
                tip = id;
        }
        return !tip.isEmpty();
    });
    QVERIFY2(shown, "no tooltip");
    snapshot(QStringLiteral("3-tooltip"));
    const QRect r = xwininfoRect(tip, false);
    QVERIFY2(r.top() > on.y() && r.top() < on.y() + 40 && qAbs(r.left() - on.x()) < 40, qPrintable(text(r)));
    mouseTo(window(false).topLeft() + PanelBackground);
    QVERIFY2(waitFor([&] { return !visibleWindows().contains(tip); }), "the tooltip stayed");
}

void TestWindowsX11::dragMovesTheWindow_data()
{
    QTest::addColumn<bool>("video");
    QTest::addColumn<QPoint>("delta");
    QTest::newRow("panel") << false << QPoint(-150, -280);
    QTest::newRow("video window") << true << QPoint(120, 100);
}

void TestWindowsX11::dragMovesTheWindow()
{
    QFETCH(bool, video);
    QFETCH(QPoint, delta);
    const QRect before = window(video);
    const QPoint start = before.topLeft() + (video ? VideoBackground : PanelBackground);
    mouseTo(start);
    QTest::qWait(100);
    xdotool({"mousedown", "1"});
    QTest::qWait(100);
    // The first move hands the window to the window manager, which follows
    // the pointer from there: keep it short, it may not count.
    const QPoint first(2, 2);
    mouseTo(start + first);
    QTest::qWait(100);
    for (int step = 1; step <= 10; ++step) {
        mouseTo(start + first + (delta - first) * step / 10);
        QTest::qWait(30);
    }
    xdotool({"mouseup", "1"});
    const QPoint want = before.topLeft() + delta;
    QRect after;
    const bool moved = waitFor([&] {
        after = window(video);
        return qAbs(after.x() - want.x()) <= 3 && qAbs(after.y() - want.y()) <= 3;
    });
    QVERIFY2(moved, qPrintable("from " + text(before) + " to " + text(after) +
                               QStringLiteral(", expected %1,%2").arg(want.x()).arg(want.y())));
    QCOMPARE(after.size(), before.size());
    snapshot(QLatin1String("4-dragged-") + QTest::currentDataTag());
    // The release ended the drag: a plain move leaves the window where it is.
    mouseTo(start + delta + QPoint(30, -20));
    QTest::qWait(300);
    QCOMPARE(window(video), after);
}

void TestWindowsX11::homeEntersFullScreen()
{
    m_normal = frame(true);
    // A move over the panel's background stops the focus timer, so that the
    // next left click in full screen starts it afresh.
    const QRect panel = window(false);
    const QPoint rest = panel.topLeft() + PanelBackground;
    QVERIFY2((grab(QRect(rest, QSize(1, 1))).pixel(0, 0) & 0xFFFFFF)
                 == (skin(QStringLiteral("panel")).pixel(PanelBackground) & 0xFFFFFF),
             "the panel's background is covered");
    mouseTo(rest);
    QTest::qWait(100);
    mouseTo(rest + QPoint(1, 0));

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    xdotool({"key", "Home"});
    QVERIFY2(waitFor([&] { return window(true) == screen; }), qPrintable("Home: " + text(window(true))));

    // The picture covers the whole window: no background colour and no
    // window pictures in the top band where they sat.
    QImage shot;
    const bool covered = waitFor([&] {
        shot = grab(QRect(0, 0, screen.width(), 60));
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                if ((shot.pixel(x, y) & 0xFFFFFF) == WindowColour)
                    return false;
            }
        }
        return true;
    });
    QVERIFY2(covered, "the window's background shows in full screen");
    snapshot(QStringLiteral("5-full-screen"));
    for (const Button &b : Buttons) {
        if (b.video)
            QVERIFY2(showing(b, b.normal) != 0, b.name);
    }
    QVERIFY2(showing(Buttons[0], "pn") != 0, "the panel shows in front of the full-screen video");
}

void TestWindowsX11::clickInFullScreenShowsThePanelAWhile()
{
    // A left click anywhere brings the panel in front of the video; about
    // three seconds later the video takes the focus and the front back.
    const QRect panel = window(false);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QVERIFY(!panel.contains(screen.bottomRight() - QPoint(20, 20)));
    mouseTo(screen.bottomRight() - QPoint(20, 20));
    xdotool({"click", "1"});
    QVERIFY2(waitFor([this] { return showing(Buttons[0], "pn") == 0; }, 2000), "the panel did not come forward");
    snapshot(QStringLiteral("5-full-screen-panel"));
    QElapsedTimer inFront;
    inFront.start();
    QVERIFY2(waitFor([this] { return showing(Buttons[0], "pn") != 0; }, 4500), "the video did not come back in front");
    QVERIFY2(inFront.elapsed() > 1500, qPrintable(QStringLiteral("the panel stayed only %1 ms").arg(inFront.elapsed())));
}

void TestWindowsX11::homeLeavesFullScreen()
{
    QVERIFY(m_normal.isValid());
    xdotool({"key", "Home"});
    QVERIFY2(waitFor([&] { return frame(true) == m_normal; }), qPrintable("Home again: " + text(frame(true))));
    for (const Button &b : Buttons) {
        if (b.video)
            QVERIFY2(waitForPicture(b, b.normal), b.name);
    }
    QVERIFY(window(false).isValid());
    snapshot(QStringLiteral("6-back"));
}

QTEST_MAIN(TestWindowsX11)
#include "test_windows_x11.moc"
