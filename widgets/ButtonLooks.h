#pragma once
// The looks of every skinned button, and the one rule that switches them.
//
// Each button has a normal, a mouse-over and a pressed picture. The table
// says, per button: which mouse buttons switch it to its pressed picture, the
// picture shown on release, and which neighbours a mouse move over it resets
// to their normal pictures. A ButtonSkinner applies that rule to the buttons
// of one window:
//   press   -> pressed picture, if the mouse button passes the filter;
//   move    -> over picture, then each listed neighbour to its normal picture;
//   release -> the release picture.
// A button gets no "mouse left" notification: an over picture stays until a
// neighbour, the window background (showAllNormal) or its own release
// replaces it.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace velmora {

class ImageButton;

enum class SkinWindow { Panel, Video };
enum class PressFilter { AnyButton, LeftOnly };

struct ButtonLook
{
    SkinWindow window;
    QString button;
    QString normal;
    QString over;
    QString pressed;
    PressFilter press;
    QString release;
    QStringList hoverResets;
};

// The whole table, panel rows first.
const QList<ButtonLook> &buttonLooks();
// The row of one button, or nullptr.
const ButtonLook *findButtonLook(SkinWindow window, const QString &button);

class ButtonSkinner : public QObject
{
    Q_OBJECT
public:
    explicit ButtonSkinner(SkinWindow window, QObject *parent = nullptr);

    // Puts button under the rule of its table row (by name); returns false
    // when the table has no row for it.
    bool add(const QString &name, ImageButton *button);
    ImageButton *button(const QString &name) const { return m_buttons.value(name); }

    void showNormal(const QString &name);
    // Every button of this window back to its normal picture, in table order.
    void showAllNormal();

private:
    void onPressed(const ButtonLook &look, Qt::MouseButton mouseButton);
    void onMoved(const ButtonLook &look);
    void onReleased(const ButtonLook &look);

    SkinWindow m_window;
    QHash<QString, ImageButton *> m_buttons;
};

} // namespace velmora
