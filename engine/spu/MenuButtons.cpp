#include "engine/spu/MenuButtons.h"

namespace velmora {

int DvdnavButtonNavigator::currentButton()
{
    int32_t button = 0;
    if (dvdnav_get_current_highlight(m_nav, &button) != DVDNAV_STATUS_OK)
        return 0;
    return button;
}

bool DvdnavButtonNavigator::selectButton(pci_t &pci, int button)
{
    return dvdnav_button_select(m_nav, &pci, button) == DVDNAV_STATUS_OK;
}

bool DvdnavButtonNavigator::activateButton(pci_t &pci, int button)
{
    return dvdnav_button_select_and_activate(m_nav, &pci, button) == DVDNAV_STATUS_OK;
}

bool DvdnavButtonNavigator::moveSelection(pci_t &pci, MenuKey direction)
{
    dvdnav_status_t status = DVDNAV_STATUS_ERR;
    switch (direction) {
    case MenuKey::Up: status = dvdnav_upper_button_select(m_nav, &pci); break;
    case MenuKey::Down: status = dvdnav_lower_button_select(m_nav, &pci); break;
    case MenuKey::Left: status = dvdnav_left_button_select(m_nav, &pci); break;
    case MenuKey::Right: status = dvdnav_right_button_select(m_nav, &pci); break;
    case MenuKey::Activate: break;
    }
    return status == DVDNAV_STATUS_OK;
}

void MenuButtons::showPacket(const pci_t &pci)
{
    m_pci = pci;
    m_count = buttonCount(m_pci);
    // A looping menu shows the packet it was activated from again; the
    // navigator still refuses it, so the refusal lasts until another sector
    // (or a flush: sector numbers restart in every menu and title set).
    if (m_used && m_pci.pci_gi.nv_pck_lbn != m_usedSector)
        m_used = false;
    if (m_count == 0) {
        m_current = 0;
        return;
    }
    const int current = m_navigator.currentButton();
    m_current = repairButton(m_pci, current);
    // Should the navigator refuse the repair, light nothing rather than a
    // button it would not act on.
    if (m_current != current && m_current > 0 && !m_used && !m_navigator.selectButton(m_pci, m_current))
        m_current = 0;
}

void MenuButtons::clear()
{
    m_count = 0;
    m_current = 0;
    m_used = false;
}

bool MenuButtons::pointerMoved(std::optional<QPoint> picturePoint)
{
    if (!usable() || !picturePoint)
        return false;
    const int button = buttonAt(m_pci, picturePoint->x(), picturePoint->y());
    if (button == 0 || button == m_current)
        return false;
    if (!m_navigator.selectButton(m_pci, button))
        return false;
    m_current = button;
    return true;
}

bool MenuButtons::clicked(std::optional<QPoint> picturePoint)
{
    if (!usable() || !picturePoint)
        return false;
    const int button = buttonAt(m_pci, picturePoint->x(), picturePoint->y());
    return button != 0 && activate(button);
}

bool MenuButtons::keyPressed(MenuKey key)
{
    if (!usable())
        return false;
    if (m_current == 0)
        return false; // no button to move from or to press
    if (key == MenuKey::Activate)
        return activate(m_current);
    if (!m_navigator.moveSelection(m_pci, key))
        return false;
    const int button = m_navigator.currentButton();
    const bool changed = button != m_current;
    m_current = button;
    // A button in auto-action mode runs its command as soon as it is
    // selected; the navigator has done so, and this packet is spent.
    if (button >= 1 && button <= m_count && m_pci.hli.btnit[button - 1].auto_action_mode == 1) {
        m_used = true;
        m_usedSector = m_pci.pci_gi.nv_pck_lbn;
    }
    return changed;
}

bool MenuButtons::activate(int button)
{
    if (!m_navigator.activateButton(m_pci, button))
        return false;
    m_current = button;
    m_used = true;
    m_usedSector = m_pci.pci_gi.nv_pck_lbn;
    return true;
}

std::optional<ButtonArea> MenuButtons::highlight() const
{
    if (m_count == 0 || m_current == 0)
        return std::nullopt;
    return buttonArea(m_pci, m_current, m_used ? ButtonMode::Activate : ButtonMode::Select);
}

} // namespace velmora
