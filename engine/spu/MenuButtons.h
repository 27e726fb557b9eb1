#pragma once
// Working a disc menu's buttons with the mouse and the keyboard.
//
// MenuButtons keeps the NAV packet whose picture is on screen and turns
// pointer positions (already mapped to picture coordinates, see
// SurfaceMapping), clicks and arrow/Return keys into the navigator's button
// calls. It follows the rules discs and libdvdnav expect:
//  - moving over a button selects it (once, not on every move); moving off
//    every button leaves the highlight where it is;
//  - a click or Return activates; a click outside every button does nothing
//    (libdvdnav's mouse calls would fail there with a misleading message);
//  - once a button's command has run, the same NAV packet refuses further
//    button calls (libdvdnav answers "This NAV has already been left"):
//    everything is ignored until clear() or a packet from another sector;
//  - an invalid current button is repaired to the first valid one whenever
//    a packet is shown.
// highlight() tells what to draw: the current button's area and colours,
// in the activate colours from a press until the next packet.
//
// Threads: one owner. The navigator calls reach libdvdnav, so the engine
// calls MenuButtons where it serialises its other dvdnav calls (libdvdnav
// locks each call, but the engine's view of "the packet on screen" must not
// change halfway through a click).

#include "engine/spu/ButtonHighlight.h"

#include <QPoint>
#include <dvdnav/dvdnav.h>
#include <optional>

namespace velmora {

enum class MenuKey { Up, Down, Left, Right, Activate };

// The navigator's button operations, so the menu logic can run without a
// disc. Each returns false when the navigator refuses.
class ButtonNavigator
{
public:
    virtual ~ButtonNavigator() = default;
    virtual int currentButton() = 0;                           // 0 when none
    virtual bool selectButton(pci_t &pci, int button) = 0;
    virtual bool activateButton(pci_t &pci, int button) = 0;   // selects it too
    virtual bool moveSelection(pci_t &pci, MenuKey direction) = 0; // Up/Down/Left/Right
};

// The real one, over libdvdnav. Does not own the handle.
class DvdnavButtonNavigator final : public ButtonNavigator
{
public:
    explicit DvdnavButtonNavigator(dvdnav_t *nav) : m_nav(nav) {}
    int currentButton() override;
    bool selectButton(pci_t &pci, int button) override;
    bool activateButton(pci_t &pci, int button) override;
    bool moveSelection(pci_t &pci, MenuKey direction) override;

private:
    dvdnav_t *m_nav;
};

class MenuButtons
{
public:
    // The navigator must outlive this object.
    explicit MenuButtons(ButtonNavigator &navigator) : m_navigator(navigator) {}

    // The NAV packet of the picture now on screen (a copy is kept).
    void showPacket(const pci_t &pci);
    // Call at every flush (HOP_CHANNEL, any jump): sector numbers restart in
    // each menu and title set, so only a flush tells a new packet reliably.
    void clear();
    bool hasButtons() const { return m_count > 0; }

    // Each returns true when it changed the highlight or activated a button.
    // A point of nullopt is off the picture (on the bars).
    bool pointerMoved(std::optional<QPoint> picturePoint);
    bool clicked(std::optional<QPoint> picturePoint);
    bool keyPressed(MenuKey key);

    int currentButton() const { return m_current; }
    // What to draw over the menu subpicture; nullopt when no button is lit.
    std::optional<ButtonArea> highlight() const;

private:
    bool usable() const { return m_count > 0 && !m_used; }
    bool activate(int button);

    ButtonNavigator &m_navigator;
    pci_t m_pci{};
    int m_count = 0;
    int m_current = 0;
    bool m_used = false;              // a command ran from this packet
    std::uint32_t m_usedSector = 0;   // its nv_pck_lbn
};

} // namespace velmora
