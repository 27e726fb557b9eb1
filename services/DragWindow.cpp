#include "DragWindow.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace velmora {

namespace {

// The hand-made move for window managers that refuse startSystemMove: a
// child object of the window that follows the mouse's global position until
// the left button is released, then deletes itself.
class ManualMove final : public QObject
{
public:
    static constexpr auto Name = "velmora-manual-move";

    ManualMove(QWidget *window, QPoint cursor)
        : QObject(window), m_window(window), m_grab(cursor - window->pos())
    {
        setObjectName(QLatin1String(Name));
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseMove) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (!(mouse->buttons() & Qt::LeftButton))
                finish();
            else if (m_window)
                m_window->move(mouse->globalPosition().toPoint() - m_grab);
        } else if (event->type() == QEvent::MouseButtonRelease) {
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                finish();
        }
        return false; // the windows still see every event
    }

private:
    void finish()
    {
        qApp->removeEventFilter(this);
        setObjectName(QString()); // a new drag may start before the deletion
        deleteLater();
    }

    QPointer<QWidget> m_window;
    QPoint m_grab; // the cursor's offset from the window's top-left corner
};

} // namespace

void DragWindow(QWidget *form)
{
    if (!form || !(QGuiApplication::mouseButtons() & Qt::LeftButton))
        return;
    QWidget *window = form->window();
    if (window->findChild<QObject *>(QLatin1String(ManualMove::Name),
                          Qt::FindDirectChildrenOnly))
        return; // this drag is already running
    if (QWindow *handle = window->windowHandle(); handle && handle->startSystemMove())
        return;
    new ManualMove(window, QCursor::pos());
}

} // namespace velmora
