// Dragging a borderless window on a real X server with a window manager:
// the window manager's own move, driven by xdotool.
#include "services/DragWindow.h"

#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>
#include <QtTest>

using namespace velmora;

namespace {

class DragSurface : public QWidget
{
public:
    DragSurface() : QWidget(nullptr, Qt::FramelessWindowHint) {}

protected:
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (event->buttons() & Qt::LeftButton)
            DragWindow(this);
    }
};

} // namespace

class TestDragX11 : public QObject
{
    Q_OBJECT

private slots:
    void leftDragMovesTheWindow()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("needs an X server");
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (xdotool.isEmpty())
            QSKIP("xdotool is not installed");

        DragSurface surface;
        surface.setGeometry(200, 200, 160, 100);
        surface.show();
        QVERIFY(QTest::qWaitForWindowExposed(&surface));
        QTRY_COMPARE(surface.pos(), QPoint(200, 200));
        const QPoint start = surface.pos();
        auto xdo = [&](const QStringList &args) {
            QProcess p;
            p.start(xdotool, args);
            QVERIFY(p.waitForFinished(5000));
        };

        xdo({QStringLiteral("mousemove"), QStringLiteral("240"), QStringLiteral("240"), QStringLiteral("mousedown"), QStringLiteral("1")});
        QTest::qWait(100);
        // Small steps, each seen by the window or the window manager.
        for (int step = 1; step <= 10; ++step) {
            xdo({QStringLiteral("mousemove"), QString::number(240 + 15 * step), QString::number(240 + 10 * step)});
            QTest::qWait(30);
        }
        xdo({QStringLiteral("mouseup"), QStringLiteral("1")});
        // The window follows the pointer; how far depends on where the drag
        // began (the first move starts it), so the test asks for most of it.
        QTRY_VERIFY2(surface.pos().x() > start.x() + 100 && surface.pos().y() > start.y() + 60,
                     qPrintable(QStringLiteral("at %1,%2").arg(surface.pos().x()).arg(surface.pos().y())));
        const QPoint dropped = surface.pos();
        xdo({QStringLiteral("mousemove"), QStringLiteral("500"), QStringLiteral("500")});
        QTest::qWait(200);
        QCOMPARE(surface.pos(), dropped);
    }
};

QTEST_MAIN(TestDragX11)
#include "test_drag_x11.moc"
