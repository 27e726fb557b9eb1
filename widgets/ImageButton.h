#pragma once
// A frameless image box used for every skinned button.
//
// The button only reports what the mouse does (pressed, released, moved,
// clicked); which picture it shows is decided by its owner, usually through a
// ButtonSkinner, and set with showImage(). The picture is the skin store's own
// QPixmap (implicitly shared), never a private copy.
//
// The button's size follows its picture unless a size was fixed with
// setSpot(); a fixed-size button draws its picture at the top-left corner.

#include <QLabel>
#include <QString>

namespace velmora {

class ImageButton : public QLabel
{
    Q_OBJECT
public:
    explicit ImageButton(QWidget *parent = nullptr);

    // Shows the skin store's picture called name (e.g. "EjectN").
    void showImage(const QString &name);
    // Name of the picture on show; empty before the first showImage().
    QString imageName() const { return m_imageName; }

    // Moves the button to (left, top) in pixels of its parent, keeping its size.
    void moveTo(int left, int top);
    // Moves the button and fixes its size; later pictures no longer resize it.
    void setSpot(int left, int top, int width, int height);

signals:
    void pressed(Qt::MouseButton button);
    void released(Qt::MouseButton button);
    // A left-button release over the button, after released().
    void clicked();
    // Every mouse move over the button, and every move while it holds the mouse.
    void mouseMoved();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QString m_imageName;
    bool m_fixedSize = false;
};

} // namespace velmora
