#include "ButtonLooks.h"

#include "ImageButton.h"

namespace velmora {

namespace {

using S = QStringList;
constexpr auto Any = PressFilter::AnyButton;
constexpr auto Left = PressFilter::LeftOnly;
constexpr auto Panel = SkinWindow::Panel;
constexpr auto Video = SkinWindow::Video;

QString L(const char *text) { return QString::fromLatin1(text); }

} // namespace

const QList<ButtonLook> &buttonLooks()
{
    // window, button, normal, over, pressed, press, release, hover resets
    static const QList<ButtonLook> table{
        {Panel, L("Playi"), L("pn"), L("pm"), L("pd"), Any, L("pn"), {}},
        {Panel, L("Pausei"), L("PausN"), L("PausM"), L("PausD"), Any, L("PausN"), {}},
        {Panel, L("Stopi"), L("tdN"), L("tdM"), L("tdd"), Any, L("tdN"),
         S{L("Ejecti"), L("Playi"), L("Previ"), L("Nexti"), L("FFi"), L("FBi")}},
        {Panel, L("Previ"), L("PrevN"), L("PrevM"), L("PrevD"), Left, L("PrevN"),
         S{L("Ejecti"), L("Nexti"), L("FFi"), L("FBi")}},
        {Panel, L("Nexti"), L("NextN"), L("NextM"), L("NextD"), Left, L("NextN"),
         S{L("Ejecti"), L("Previ"), L("FFi"), L("FBi")}},
        {Panel, L("FBi"), L("SBiN"), L("SBiM"), L("SBiD"), Left, L("SBiN"),
         S{L("Ejecti"), L("Previ"), L("Nexti"), L("FFi")}},
        {Panel, L("FFi"), L("SFiN"), L("SFiM"), L("SFiD"), Any, L("SFiN"),
         S{L("Ejecti"), L("Previ"), L("Nexti"), L("FBi")}},
        {Panel, L("Ejecti"), L("EjectN"), L("EjectM"), L("EjectD"), Any, L("EjectN"),
         S{L("Previ"), L("Nexti"), L("FFi"), L("FBi")}},
        // The open button has no pressed look of its own.
        {Panel, L("Op"), L("Opn"), L("Opm"), L("Opn"), Any, L("Opn"), {}},
        {Panel, L("Mute"), L("Moni"), L("Momi"), L("Modi"), Any, L("Moni"), {}},
        {Panel, L("MuteOff"), L("Mn"), L("Mm"), L("Md"), Any, L("Mn"), {}},
        // Volume up stays lit after a release, volume down does not.
        {Panel, L("Image1"), L("PlusN"), L("PlusM"), L("PlusD"), Any, L("PlusM"), {}},
        {Panel, L("Image2"), L("MinusN"), L("MinusM"), L("MinusD"), Any, L("MinusN"), {}},
        {Panel, L("Picture1"), L("MinN"), L("MinM"), L("MinD"), Any, L("MinN"), S{L("Picture2"), L("Picture3")}},
        {Panel, L("Picture2"), L("MaxN"), L("MaxM"), L("MaxD"), Any, L("MaxN"), S{L("Picture1"), L("Picture3")}},
        {Panel, L("Picture3"), L("CrssN"), L("CrssM"), L("CrssD"), Any, L("CrssN"), S{L("Picture1"), L("Picture2")}},
        {Video, L("Picture1"), L("MinN"), L("MinM"), L("MinD"), Any, L("MinN"), S{L("Picture2"), L("Picture3")}},
        {Video, L("Picture2"), L("MaxN"), L("MaxM"), L("MaxD"), Any, L("MaxN"), S{L("Picture1"), L("Picture3")}},
        // The video window's exit picture stays lit after a release.
        {Video, L("Picture3"), L("CrssN"), L("CrssM"), L("CrssD"), Any, L("CrssM"), S{L("Picture1"), L("Picture2")}},
    };
    return table;
}

const ButtonLook *findButtonLook(SkinWindow window, const QString &button)
{
    for (const ButtonLook &look : buttonLooks()) {
        if (look.window == window && look.button == button)
            return &look;
    }
    return nullptr;
}

ButtonSkinner::ButtonSkinner(SkinWindow window, QObject *parent) : QObject(parent), m_window(window) {}

bool ButtonSkinner::add(const QString &name, ImageButton *button)
{
    const ButtonLook *look = findButtonLook(m_window, name);
    if (!look || !button)
        return false;
    m_buttons.insert(name, button);
    // The table outlives every skinner, so the row can be captured by reference.
    const ButtonLook &row = *look;
    connect(button, &ImageButton::pressed, this,
            [this, &row](Qt::MouseButton mouseButton) { onPressed(row, mouseButton); });
    connect(button, &ImageButton::mouseMoved, this, [this, &row] { onMoved(row); });
    connect(button, &ImageButton::released, this, [this, &row](Qt::MouseButton) { onReleased(row); });
    return true;
}

void ButtonSkinner::showNormal(const QString &name)
{
    const ButtonLook *look = findButtonLook(m_window, name);
    ImageButton *target = m_buttons.value(name);
    if (look && target)
        target->showImage(look->normal);
}

void ButtonSkinner::showAllNormal()
{
    for (const ButtonLook &look : buttonLooks()) {
        if (look.window == m_window)
            showNormal(look.button);
    }
}

void ButtonSkinner::onPressed(const ButtonLook &look, Qt::MouseButton mouseButton)
{
    if (look.press == PressFilter::LeftOnly && mouseButton != Qt::LeftButton)
        return;
    if (ImageButton *target = m_buttons.value(look.button))
        target->showImage(look.pressed);
}

void ButtonSkinner::onMoved(const ButtonLook &look)
{
    if (ImageButton *target = m_buttons.value(look.button))
        target->showImage(look.over);
    for (const QString &neighbour : look.hoverResets)
        showNormal(neighbour);
}

void ButtonSkinner::onReleased(const ButtonLook &look)
{
    if (ImageButton *target = m_buttons.value(look.button))
        target->showImage(look.release);
}

} // namespace velmora
