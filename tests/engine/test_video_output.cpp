// The ways of drawing the picture (libswscale through Qt or through X
// shared memory, OpenGL) against each other and the surface's own duties
// on all: what they show of the same decoded picture and overlay, where the
// letterbox goes, that widgets above the picture stay visible, and which
// canvas is chosen for which renderer and setting.
#include "engine/video/FrameScaler.h"
#include "engine/video/GlCanvas.h"
#include "engine/video/SharedBands.h"
#include "engine/video/SharedMemoryCanvas.h"
#include "engine/video/SoftwareCanvas.h"
#include "engine/video/VideoBackend.h"
#include "engine/video/VideoSurface.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QtTest>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

using namespace velmora::video;

Q_DECLARE_METATYPE(velmora::video::VideoBackend)

namespace {

// A PAL picture as a camera gives it: smooth gradients of brightness and
// colour, with a saturated yellow and blue bar (hard edges) across the top
// third and a grey ramp along the bottom.
SharedFrame testFrame()
{
    AVFrame *f = av_frame_alloc();
    f->width = 720;
    f->height = 576;
    f->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(f, 0) < 0)
        return {};
    const auto bar = [](int x, int y) { return y < 192 ? (x >= 180 && x < 360 ? 1 : x >= 450 && x < 630 ? 2 : 0) : 0; };
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 720; ++x) {
            const int b = bar(x, y);
            f->data[0][y * f->linesize[0] + x] =
                std::uint8_t(b == 1 ? 210 : b == 2 ? 41 : y >= 480 ? 16 + x * 219 / 719 : 40 + (x + y) * 160 / 1295);
        }
    for (int y = 0; y < 288; ++y)
        for (int x = 0; x < 360; ++x) {
            const int b = bar(2 * x, 2 * y);
            f->data[1][y * f->linesize[1] + x] = std::uint8_t(b == 1 ? 16 : b == 2 ? 240 : y >= 240 ? 128 : 64 + x * 128 / 359);
            f->data[2][y * f->linesize[2] + x] = std::uint8_t(b == 1 ? 146 : b == 2 ? 110 : y >= 240 ? 128 : 192 - y * 128 / 287);
        }
    return SharedFrame(f, [](const AVFrame *p) {
        AVFrame *owned = const_cast<AVFrame *>(p);
        av_frame_free(&owned);
    });
}

VideoFrame pictureOf(const SharedFrame &frame)
{
    VideoFrame v;
    v.frame = frame;
    v.codedSize = QSize(720, 576);
    v.displaySize = displaySizeFor(576, false);
    return v;
}

// A subtitle: a white box with a half-transparent black edge, in the lower
// part of the picture, drawn in picture-relative coordinates as the engine's
// overlay does.
void subtitle(QImage &image)
{
    QPainter painter(&image);
    const QRectF box(image.width() * 0.3, image.height() * 0.80, image.width() * 0.4, image.height() * 0.08);
    painter.fillRect(box.adjusted(-4, -4, 4, 4), QColor(0, 0, 0, 128));
    painter.fillRect(box, Qt::white);
}

double meanAbsoluteDifference(const QImage &a, const QImage &b, int channel)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            const int shift = 16 - 8 * channel;
            sum += std::abs(int((p >> shift) & 0xff) - int((q >> shift) & 0xff));
        }
    return sum / (double(a.width()) * a.height());
}

} // namespace

// Destroys an X window through a connection of its own, as another client would.
void destroyXWindow(unsigned long id);

class TestVideoOutput : public QObject
{
    Q_OBJECT
private slots:
    void backendChoice_data();
    void backendChoice();
    void letterboxFillsAMatchingScreen_data();
    void letterboxFillsAMatchingScreen();
    void openGlMatchesSoftware();
    void softwareCanvasLeavesWidgetsAboveAlone();
    void bandsAreRowsOfTheWholePicture();
    void sharedMemoryMatchesQtDrawing();
    void sharedMemoryWindowFollowsTheWidget();
    void sharedBandsRefuseAndNeverHang();
    void sharedMemoryFallsBackToQtWhenItsWindowGoes();
    void widgetsAboveThePictureAndMessages_data();
    void widgetsAboveThePictureAndMessages();
    void pointerMappingAndSkippedPictures();
};

void TestVideoOutput::backendChoice_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("renderer");
    QTest::addColumn<bool>("opengl");
    const QString hardware = QStringLiteral("AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)");
    const QString llvmpipe = QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)");
    QTest::newRow("hardware, auto") << QString() << hardware << true;
    QTest::newRow("llvmpipe, auto") << QString() << llvmpipe << false;
    QTest::newRow("softpipe, auto") << QStringLiteral("auto") << QStringLiteral("softpipe") << false;
    QTest::newRow("no context") << QString() << QString() << false;
    QTest::newRow("software wins over hardware") << QStringLiteral("software") << hardware << false;
    QTest::newRow("gl forces llvmpipe") << QStringLiteral(" GL ") << llvmpipe << true;
    QTest::newRow("gl without a context") << QStringLiteral("gl") << QString() << false;
    QTest::newRow("unknown value is auto") << QStringLiteral("vulkan") << hardware << true;
}

void TestVideoOutput::backendChoice()
{
    QFETCH(QString, setting);
    QFETCH(QString, renderer);
    QFETCH(bool, opengl);
    const BackendChoice choice = chooseBackend(setting, renderer);
    QCOMPARE(choice.backend == VideoBackend::OpenGL, opengl);
    QVERIFY(!choice.reason.isEmpty());
}

void TestVideoOutput::letterboxFillsAMatchingScreen_data()
{
    QTest::addColumn<QSize>("display");
    QTest::addColumn<QSize>("bounds");
    QTest::addColumn<QRect>("expected");
    const QSize ntscWide = displaySizeFor(480, true);
    const QSize palWide = displaySizeFor(576, true);
    const QSize pal = displaySizeFor(576, false);
    QTest::newRow("NTSC 16:9 on 1080p") << ntscWide << QSize(1920, 1080) << QRect(0, 0, 1920, 1080);
    QTest::newRow("NTSC 16:9 on 4K") << ntscWide << QSize(3840, 2160) << QRect(0, 0, 3840, 2160);
    QTest::newRow("NTSC 16:9 on 720p") << ntscWide << QSize(1280, 720) << QRect(0, 0, 1280, 720);
    QTest::newRow("PAL 16:9 on 4K") << palWide << QSize(3840, 2160) << QRect(0, 0, 3840, 2160);
    QTest::newRow("PAL 4:3 pillarboxed on 4K") << pal << QSize(3840, 2160) << QRect(480, 0, 2880, 2160);
    QTest::newRow("NTSC 16:9 letterboxed on 4:3") << ntscWide << QSize(1024, 768) << QRect(0, 96, 1024, 576);
    QTest::newRow("16:9 in a window three lines too tall") << palWide << QSize(1024, 579) << QRect(0, 1, 1024, 576);
}

// A 16:9 disc on a 16:9 screen fills it: the rounding of its display size
// (NTSC 16:9 is 853 1/3 pixels wide) leaves no line of black, while real
// bars stay.
void TestVideoOutput::letterboxFillsAMatchingScreen()
{
    QFETCH(QSize, display);
    QFETCH(QSize, bounds);
    QFETCH(QRect, expected);
    QCOMPARE(letterbox(display, bounds), expected);
}

// The same picture and subtitle through both canvases, side by side in one
// window: within 3 levels per channel on average, black bars where the
// letterbox puts them, the subtitle at the same place.
void TestVideoOutput::openGlMatchesSoftware()
{
    QWidget window;
    window.resize(2 * 400 + 10, 300);
    auto *software = new VideoSurface(&window, VideoBackend::Software);
    auto *gl = new VideoSurface(&window, VideoBackend::OpenGL);
    software->setGeometry(0, 0, 400, 300);
    gl->setGeometry(410, 0, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *glCanvas = dynamic_cast<GlCanvas *>(gl->canvas());
    QVERIFY(glCanvas);

    const SharedFrame frame = testFrame();
    QVERIFY(frame);
    for (VideoSurface *s : {software, gl})
        s->presentFrame(pictureOf(frame), subtitle);
    QTRY_VERIFY_WITH_TIMEOUT(gl->canvas()->paintedFrames() > 0 && software->canvas()->paintedFrames() > 0, 5000);
    if (!glCanvas->ready())
        QSKIP("no OpenGL context here");
    qInfo("OpenGL renderer: %s", qPrintable(glCanvas->renderer()));

    // Each surface 400x300 shows the 4:3 picture at 400x300: no bars. Then a
    // wide surface for the bars.
    for (const QSize size : {QSize(400, 300), QSize(400, 200)}) {
        software->resize(size);
        gl->resize(size);
        for (VideoSurface *s : {software, gl})
            s->presentFrame(pictureOf(frame), subtitle);
        QTest::qWait(200);
        const QImage a = software->currentImage();
        const QImage b = gl->currentImage();
        QCOMPARE(a.size(), letterbox(QSize(768, 576), size).size());
        QCOMPARE(b.size(), a.size());
        qInfo("%dx%d: mean absolute difference R %.2f G %.2f B %.2f", size.width(), size.height(),
              meanAbsoluteDifference(a, b, 0), meanAbsoluteDifference(a, b, 1), meanAbsoluteDifference(a, b, 2));
        for (int c = 0; c < 3; ++c)
            QVERIFY2(meanAbsoluteDifference(a, b, c) <= 3.0,
                     qPrintable(QStringLiteral("channel %1 differs by %2 on average at %3x%4")
                                    .arg(c).arg(meanAbsoluteDifference(a, b, c)).arg(size.width()).arg(size.height())));
        // The subtitle's white box, in both.
        const QPoint inBox(a.width() / 2, int(a.height() * 0.84));
        QVERIFY(qGray(a.pixel(inBox)) > 240);
        QVERIFY(qGray(b.pixel(inBox)) > 240);

        // On screen: the bars black on both (the GL surface as the window shows it).
        const QImage shot = window.grab().toImage();
        const QRect shown = letterbox(QSize(768, 576), size);
        if (shown.left() > 2) {
            QCOMPARE(QColor(shot.pixel(1, size.height() / 2)), QColor(Qt::black));
            QCOMPARE(QColor(shot.pixel(410 + 1, size.height() / 2)), QColor(Qt::black));
        }
        const QPoint mid(shown.left() + shown.width() * 3 / 8, shown.top() + shown.height() / 6); // the yellow bar
        const QRgb p = shot.pixel(mid), q = shot.pixel(mid + QPoint(410, 0));
        QVERIFY2(std::abs(qRed(p) - qRed(q)) <= 6 && std::abs(qGreen(p) - qGreen(q)) <= 6 && std::abs(qBlue(p) - qBlue(q)) <= 6,
                 "the two surfaces show different colours in the yellow bar");
    }
}

// A label over the picture (the information box) stays readable: the
// software canvas paints around it, and writes straight into the backing
// store only when nothing covers the picture.
void TestVideoOutput::softwareCanvasLeavesWidgetsAboveAlone()
{
    QWidget window;
    window.resize(400, 300);
    auto *surface = new VideoSurface(&window, VideoBackend::Software);
    surface->setGeometry(window.rect());
    auto *info = new QLabel(&window);
    info->setAutoFillBackground(true);
    QPalette palette = info->palette();
    palette.setColor(QPalette::Window, QColor(0, 200, 0));
    info->setPalette(palette);
    info->setGeometry(20, 20, 60, 40);
    info->hide();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *canvas = dynamic_cast<SoftwareCanvas *>(surface->canvas());
    QVERIFY(canvas);
    const SharedFrame frame = testFrame();

    surface->presentFrame(pictureOf(frame), {});
    QTRY_VERIFY_WITH_TIMEOUT(canvas->paintedFrames() >= 1, 3000);
    QCOMPARE(canvas->directPaints(), 1);

    info->show();
    info->raise();
    for (int i = 0; i < 3; ++i) {
        surface->presentFrame(pictureOf(frame), {});
        QTRY_VERIFY_WITH_TIMEOUT(canvas->paintedFrames() >= 2 + i, 3000);
    }
    QVERIFY(canvas->bufferedPaints() >= 1);
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    QCOMPARE(QColor(shot.pixel(50, 40)), QColor(0, 200, 0));
    // The picture beside it: the yellow bar.
    QVERIFY(qRed(shot.pixel(150, 40)) > 220 && qBlue(shot.pixel(150, 40)) < 40);
}

// A picture scaled band by band is, row for row, the picture scaled whole:
// enlarging to a 4K screen's 4:3 picture, an odd window size, shrinking.
void TestVideoOutput::bandsAreRowsOfTheWholePicture()
{
    const SharedFrame frame = testFrame();
    QVERIFY(frame);
    for (const QSize size : {QSize(2880, 2160), QSize(611, 343), QSize(400, 300)}) {
        FrameScaler whole;
        const QImage reference = whole.scale(frame.get(), size);
        QVERIFY(!reference.isNull());
        FrameScaler banded;
        QImage band(size.width(), SharedBands::BandRows, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); y += SharedBands::BandRows) {
            const int rows = std::min(SharedBands::BandRows, size.height() - y);
            band.fill(Qt::magenta);
            QVERIFY(banded.scaleRows(frame.get(), size, y, rows, band.bits(), int(band.bytesPerLine())));
            for (int r = 0; r < rows; ++r)
                QVERIFY2(std::memcmp(band.constScanLine(r), reference.constScanLine(y + r), std::size_t(size.width()) * 4) == 0,
                         qPrintable(QStringLiteral("%1x%2: row %3 differs").arg(size.width()).arg(size.height()).arg(y + r)));
        }
        // Rows outside the picture are refused, nothing written.
        QVERIFY(!banded.scaleRows(frame.get(), size, size.height() - 1, 2, band.bits(), int(band.bytesPerLine())));
    }
}

// Through X shared memory and through Qt, the same picture, subtitle and
// widgets above look the same on screen, bars included.
void TestVideoOutput::sharedMemoryMatchesQtDrawing()
{
    if (!SharedBands::available())
        QSKIP("no X display with shared memory here");
    QWidget window;
    // Smaller on a scaled screen, so that the window still fits the test's.
    const int w = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? 240 : 400;
    const int h = w / 2;
    window.resize(2 * w + 10, 300);
    auto *shm = new VideoSurface(&window, VideoBackend::SharedMemory);
    auto *qt = new VideoSurface(&window, VideoBackend::Software);
    QCOMPARE(shm->canvasKind(), QStringLiteral("software-shm"));
    shm->setGeometry(0, 0, w, h);
    qt->setGeometry(w + 10, 0, w, h);
    // Over each, a box of two lines of text across the boundary of two bands.
    for (const int x : {0, w + 10}) {
        auto *box = new QWidget(&window);
        box->setGeometry(x + 20, SharedBands::BandRows - 30, 200, 60);
        for (int line = 0; line < 2; ++line) {
            auto *label = new QLabel(QStringLiteral("Chapter: 0%1/12").arg(line + 1), box);
            label->setGeometry(0, line * 30, 200, 30);
        }
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const SharedFrame frame = testFrame();
    for (VideoSurface *s : {shm, qt})
        s->presentFrame(pictureOf(frame), subtitle);
    QTRY_VERIFY_WITH_TIMEOUT(shm->canvas()->paintedFrames() > 0 && qt->canvas()->paintedFrames() > 0, 5000);
    auto *canvas = dynamic_cast<SharedMemoryCanvas *>(shm->canvas());
    QVERIFY(canvas);
    QVERIFY2(canvas->failure().isEmpty(), qPrintable(canvas->failure()));
    QTRY_VERIFY_WITH_TIMEOUT(canvas->bandsPut() > 0, 3000);
    QTest::qWait(200);

    // In the screen's pixels: twice the widgets' on a screen scaled by 2
    // (the second run of this test), where X knows nothing of Qt's scaling.
    const qreal ratio = window.devicePixelRatioF();
    const auto px = [ratio](int v) { return qRound(v * ratio); };
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    if (std::getenv("VELMORA_TEST_SHOTS"))
        shot.save(QDir(qEnvironmentVariable("VELMORA_TEST_SHOTS")).filePath(QStringLiteral("shm-vs-qt-%1.png").arg(ratio)));
    const QImage a = shot.copy(0, 0, px(w), px(h));
    const QImage b = shot.copy(px(w + 10), 0, px(w), px(h));
    // Scaled, the two round the letterbox in different units (widget
    // units through Qt, the screen's pixels in the X window): an edge may
    // move by a pixel.
    const double allowed = ratio == 1.0 ? 1.0 : 2.0;
    for (int c = 0; c < 3; ++c)
        QVERIFY2(meanAbsoluteDifference(a, b, c) <= allowed,
                 qPrintable(QStringLiteral("channel %1 differs by %2 on average").arg(c).arg(meanAbsoluteDifference(a, b, c))));
    const QRect shown = letterbox(QSize(768, 576), QSize(w, h));
    QCOMPARE(QColor(a.pixel(1, px(h / 2))), QColor(Qt::black));
    QCOMPARE(QColor(a.pixel(px(w) - 1, px(h / 2))), QColor(Qt::black));
    QVERIFY(qGray(a.pixel(px(shown.center().x()), px(int(shown.top() + shown.height() * 0.84)))) > 240); // the subtitle
    QCOMPARE(shm->currentImage().size(), shown.size());
}

// The shared-memory canvas's X window goes where its widget goes (also
// when only an ancestor moves), goes away with it, and draws again by
// itself after its pixels were lost (the window hidden and shown again).
void TestVideoOutput::sharedMemoryWindowFollowsTheWidget()
{
    if (!SharedBands::available())
        QSKIP("no X display with shared memory here");
    QWidget window;
    window.resize(500, 300);
    QPalette grey = window.palette();
    grey.setColor(QPalette::Window, QColor(64, 64, 64));
    window.setPalette(grey);
    window.setAutoFillBackground(true);
    auto *holder = new QWidget(&window);
    holder->setGeometry(0, 0, 200, 150);
    auto *surface = new VideoSurface(holder, VideoBackend::SharedMemory);
    surface->setGeometry(0, 0, 200, 150);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const SharedFrame frame = testFrame();
    surface->presentFrame(pictureOf(frame), {});
    QTRY_VERIFY_WITH_TIMEOUT(surface->canvas()->paintedFrames() >= 1, 3000);
    const auto grab = [&] {
        QTest::qWait(150);
        return window.screen()->grabWindow(window.winId()).toImage();
    };
    // The yellow bar of the 200x150 picture is around (75, 25) of it.
    const auto yellowAt = [](const QImage &image, QPoint p) {
        const QRgb c = image.pixel(p);
        return qRed(c) > 220 && qGreen(c) > 200 && qBlue(c) < 40;
    };
    QVERIFY(yellowAt(grab(), QPoint(75, 25)));

    holder->move(280, 140);
    QTRY_VERIFY_WITH_TIMEOUT(yellowAt(grab(), QPoint(280 + 75, 140 + 25)), 3000);
    QCOMPARE(QColor(grab().pixel(75, 25)), QColor(64, 64, 64));

    window.hide();
    QTest::qWait(100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY_WITH_TIMEOUT(yellowAt(grab(), QPoint(280 + 75, 140 + 25)), 3000);

    surface->hide();
    QTRY_COMPARE_WITH_TIMEOUT(QColor(grab().pixel(280 + 75, 140 + 25)), QColor(64, 64, 64), 3000);
}

// A window that is not there is refused with a reason; one that goes away
// under the bands costs each band a bounded wait, never a hang.
void TestVideoOutput::sharedBandsRefuseAndNeverHang()
{
    if (!SharedBands::available())
        QSKIP("no X display with shared memory here");
    QString why;
    QVERIFY(!SharedBands::open(0x7ffffff0, QRect(0, 0, 10, 10), &why));
    QVERIFY2(!why.isEmpty(), "no reason given");

    auto *host = new QWidget;
    host->resize(200, 100);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host));
    auto bands = SharedBands::open(host->winId(), QRect(0, 0, 200, 100), &why);
    QVERIFY2(bands, qPrintable(why));
    bands->setVisible(true);
    delete host; // the parent window, and ours with it, are gone
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 6; ++i) {
        QImage band = bands->band(200, SharedBands::BandRows);
        QVERIFY(!band.isNull());
        band.fill(Qt::red);
        bands->put(band.rect(), QPoint(0, 0));
        bands->fillBlack(QRect(0, 0, 10, 10));
    }
    bands.reset();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
}

// Our X window destroyed under the canvas (as another client may): the
// server refuses the next picture's bands, and the canvas goes on drawing
// through Qt, saying why.
void TestVideoOutput::sharedMemoryFallsBackToQtWhenItsWindowGoes()
{
    if (!SharedBands::available())
        QSKIP("no X display with shared memory here");
    QWidget window;
    window.resize(200, 150);
    auto *surface = new VideoSurface(&window, VideoBackend::SharedMemory);
    surface->setGeometry(window.rect());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const SharedFrame frame = testFrame();
    surface->presentFrame(pictureOf(frame), {});
    auto *canvas = dynamic_cast<SharedMemoryCanvas *>(surface->canvas());
    QVERIFY(canvas);
    QTRY_VERIFY_WITH_TIMEOUT(canvas->bandsPut() > 0, 3000);
    QVERIFY(canvas->bandsWindow() != 0);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be drawn through X shared memory any more.*refused"));
    destroyXWindow(canvas->bandsWindow());
    const auto yellowAt75x25 = [&] {
        const QRgb c = window.screen()->grabWindow(window.winId()).toImage().pixel(75, 25);
        return qRed(c) > 220 && qGreen(c) > 200 && qBlue(c) < 40;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!yellowAt75x25(), 3000); // what was under our window: nothing painted there yet
    for (int i = 0; i < 20 && canvas->failure().isEmpty(); ++i) {
        surface->presentFrame(pictureOf(frame), {});
        QTest::qWait(100);
    }
    QVERIFY2(canvas->failure().contains(QStringLiteral("refused")), qPrintable(canvas->failure()));
    QCOMPARE(canvas->bandsWindow(), 0ul);
    surface->presentFrame(pictureOf(frame), {});
    QTRY_VERIFY_WITH_TIMEOUT(yellowAt75x25(), 3000);
}

void TestVideoOutput::widgetsAboveThePictureAndMessages_data()
{
    QTest::addColumn<VideoBackend>("backend");
    QTest::newRow("shared memory") << VideoBackend::SharedMemory;
    QTest::newRow("qt") << VideoBackend::Software;
    QTest::newRow("opengl") << VideoBackend::OpenGL;
}

// Whatever draws the picture, widgets above it (the information box, a
// notice) show over it and follow their changes without a new picture (the
// X window of the shared-memory canvas would hide them otherwise); with no
// picture the surface's message shows on black.
void TestVideoOutput::widgetsAboveThePictureAndMessages()
{
    QFETCH(VideoBackend, backend);
    if (backend == VideoBackend::SharedMemory && !SharedBands::available())
        QSKIP("no X display with shared memory here");
    QWidget window;
    window.resize(400, 300);
    auto *surface = new VideoSurface(&window, backend);
    surface->setGeometry(window.rect());
    auto *info = new QLabel(QStringLiteral("Title: 01/02"), &window); // transparent, as the information box is
    QPalette palette = info->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 255, 0));
    info->setPalette(palette);
    QFont font = info->font();
    font.setPixelSize(30);
    info->setFont(font);
    info->setGeometry(20, 20, 320, 40);
    auto *box = new QLabel(&window); // an opaque one
    box->setAutoFillBackground(true);
    palette.setColor(QPalette::Window, QColor(0, 0, 200));
    box->setPalette(palette);
    box->setGeometry(300, 200, 60, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const SharedFrame frame = testFrame();
    surface->presentFrame(pictureOf(frame), {});
    auto *canvas = surface->canvas();
    QTRY_VERIFY_WITH_TIMEOUT(canvas->paintedFrames() >= 1, 3000);
    if (auto *gl = dynamic_cast<GlCanvas *>(canvas); gl && !gl->ready())
        QSKIP("no OpenGL context here");
    const auto grab = [&] {
        QTest::qWait(150);
        return window.screen()->grabWindow(window.winId()).toImage();
    };
    const auto greenPixels = [](const QImage &image, const QRect &area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                n += qGreen(p) > 200 && qRed(p) < 80 && qBlue(p) < 80;
            }
        return n;
    };

    QImage shot = grab();
    if (std::getenv("VELMORA_TEST_SHOTS"))
        shot.save(QDir(qEnvironmentVariable("VELMORA_TEST_SHOTS")).filePath(QStringLiteral("above-%1.png").arg(QTest::currentDataTag())));
    QVERIFY2(greenPixels(shot, info->geometry()) > 50, "the label's text is not on the picture");
    QCOMPARE(greenPixels(shot, QRect(230, 20, 100, 40)), 0);
    QCOMPARE(QColor(shot.pixel(330, 230)), QColor(0, 0, 200));
    if (auto *shm = dynamic_cast<SharedMemoryCanvas *>(canvas)) {
        // Drawing the widgets above must not make them paint, and that draw again, for ever.
        QTest::qWait(300);
        const int before = shm->bandsPut();
        QTest::qWait(500);
        QVERIFY2(shm->bandsPut() - before <= 4, qPrintable(QStringLiteral("%1 bands drawn with nothing changing").arg(shm->bandsPut() - before)));
    }
    QVERIFY(qRed(shot.pixel(150, 80)) > 220 && qBlue(shot.pixel(150, 80)) < 40); // the yellow bar beside

    // Changed and hidden while no new picture comes: the canvas follows.
    info->setText(QStringLiteral("Title: 02/02 ------"));
    box->hide();
    QTRY_VERIFY_WITH_TIMEOUT(greenPixels(grab(), QRect(230, 20, 100, 40)) > 20, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(QColor(grab().pixel(330, 230)) != QColor(0, 0, 200), 3000);
    info->hide();
    QTRY_COMPARE_WITH_TIMEOUT(greenPixels(grab(), info->geometry()), 0, 3000);

    surface->showMessage(QStringLiteral("No DVD found in /nowhere"));
    shot = grab();
    if (backend == VideoBackend::OpenGL && std::getenv("VELMORA_TEST_SHOTS"))
        shot.save(QDir(qEnvironmentVariable("VELMORA_TEST_SHOTS")).filePath(QStringLiteral("gl-message.png")));
    int white = 0;
    for (int x = 0; x < 400; ++x)
        white += qGray(shot.pixel(x, 150)) > 200 || qGray(shot.pixel(x, 145)) > 200 || qGray(shot.pixel(x, 155)) > 200;
    QVERIFY2(white > 5, "the message is not shown");
    QCOMPARE(QColor(shot.pixel(5, 5)), QColor(Qt::black));
    QCOMPARE(surface->message(), QStringLiteral("No DVD found in /nowhere"));
}

// Pointer to picture coordinates through the letterbox, whatever draws; and
// pictures replaced before any repaint are counted, not piled up.
void TestVideoOutput::pointerMappingAndSkippedPictures()
{
    VideoSurface surface(nullptr, VideoBackend::Software);
    surface.resize(800, 300); // a 400x300 picture with 200-pixel bars
    surface.show();
    QVERIFY(QTest::qWaitForWindowExposed(&surface));
    QVERIFY(!surface.toPicture(QPoint(400, 150)));
    const SharedFrame frame = testFrame();
    surface.presentFrame(pictureOf(frame), {});
    surface.presentFrame(pictureOf(frame), {});
    surface.presentFrame(pictureOf(frame), {});
    QCOMPARE(surface.presentedFrames(), 3);
    QCOMPARE(surface.skippedFrames(), 2);
    QCOMPARE(surface.toPicture(QPoint(400, 150)), std::optional<QPoint>(QPoint(360, 288)));
    QCOMPARE(surface.toPicture(QPoint(200, 0)), std::optional<QPoint>(QPoint(0, 0)));
    QCOMPARE(surface.toPicture(QPoint(599, 299)), std::optional<QPoint>(QPoint(718, 574)));
    QVERIFY(!surface.toPicture(QPoint(199, 150)));
    surface.clear();
    QVERIFY(!surface.toPicture(QPoint(400, 150)));
    QVERIFY(surface.currentImage().isNull());
}

// Xlib last: its macros (None, Bool...) would break Qt's names above.
#include <X11/Xlib.h>

void destroyXWindow(unsigned long id)
{
    Display *display = XOpenDisplay(nullptr);
    QVERIFY(display);
    XDestroyWindow(display, Window(id));
    XSync(display, False);
    XCloseDisplay(display);
}

QTEST_MAIN(TestVideoOutput)
#include "test_video_output.moc"
