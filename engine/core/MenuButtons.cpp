// Menu buttons: selection, activation and the highlight of the unit on
// screen. The control thread answers from the NAV packet of the picture on
// screen and posts the libdvdnav call; the navigation thread runs it and
// has the highlight drawn again.
#include "PlaybackPipeline.h"

#include "engine/core/PipelineItems.h"
#include "engine/spu/ButtonHighlight.h"

#include <dvdnav/dvdnav.h>

namespace velmora::core {

namespace {

// Pointer moves replace one another while the navigation thread is busy.
constexpr int PointerSelectKey = 1;

bool hasButtons(const std::shared_ptr<const NavUnit> &unit)
{
    return unit && unit->pci.hli.hl_gi.hli_ss != 0 && buttonCount(unit->pci) > 0;
}

// libdvdnav wants a mutable PCI; ours is the shown unit's copy.
template <class F>
dvdnav_status_t withPci(const std::shared_ptr<const NavUnit> &unit, F &&call)
{
    pci_t pci = unit->pci;
    return call(&pci);
}

} // namespace

bool PlaybackPipeline::selectButtonAt(int x, int y)
{
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        unit = m_shownUnit;
    }
    // Outside every button libdvdnav fails (with a misleading "Bad VM state."): nothing happens.
    const int button = hasButtons(unit) ? buttonAt(unit->pci, x, y) : 0;
    if (button == 0)
        return false;
    m_highlightButton = button;
    post([this, unit, x, y] {
        if (withPci(unit, [&](pci_t *pci) { return dvdnav_mouse_select(m_navigator.handle(), pci, x, y); })
            == DVDNAV_STATUS_OK)
            highlightChanged();
    }, std::nullopt, std::nullopt, PointerSelectKey);
    return true;
}

void PlaybackPipeline::highlightChanged()
{
    int32_t button = 0;
    if (dvdnav_get_current_highlight(m_navigator.handle(), &button) != DVDNAV_STATUS_OK)
        button = 0;
    m_highlightButton = button;
    if (m_drawnButton.exchange(button) == button)
        return;
    // A still menu shows no new picture: have the one on screen drawn again.
    VideoItem item;
    item.kind = VideoItem::Kind::Repaint;
    item.serial = currentSerial();
    m_videoQueue->push(item, item.serial, 0, false, std::chrono::milliseconds(0));
}

bool PlaybackPipeline::moveButtonSelection(ButtonMove move)
{
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        unit = m_shownUnit;
    }
    if (!hasButtons(unit))
        return false;
    // The button the move leads to, as the NAV packet links them.
    const int count = buttonCount(unit->pci);
    const int current = m_highlightButton.load();
    int next = current;
    if (current >= 1 && current <= count) {
        const btni_t &from = unit->pci.hli.btnit[current - 1];
        const int linked = move == ButtonMove::Up ? from.up : move == ButtonMove::Down ? from.down
                           : move == ButtonMove::Left ? from.left : from.right;
        if (linked >= 1 && linked <= count)
            next = linked;
    }
    m_highlightButton = next;
    // A button in auto-action mode runs its command as soon as it is
    // selected (libdvdnav does so): this NAV packet is spent, and what plays changes.
    const bool autoAction = next >= 1 && next <= count && next != current
                            && unit->pci.hli.btnit[next - 1].auto_action_mode == 1;
    if (autoAction) {
        std::lock_guard state(m_stateMutex);
        m_activatedUnit = unit;
    }
    post([this, unit, move] {
        dvdnav_t *nav = m_navigator.handle();
        withPci(unit, [&](pci_t *pci) {
            switch (move) {
            case ButtonMove::Up: return dvdnav_upper_button_select(nav, pci);
            case ButtonMove::Down: return dvdnav_lower_button_select(nav, pci);
            case ButtonMove::Left: return dvdnav_left_button_select(nav, pci);
            case ButtonMove::Right: return dvdnav_right_button_select(nav, pci);
            }
            return DVDNAV_STATUS_ERR;
        });
        highlightChanged();
    }, autoAction ? std::optional<Flush>(Flush{}) : std::nullopt);
    return true;
}

bool PlaybackPipeline::activateButtonAt(int x, int y)
{
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        if (m_shownUnit && m_shownUnit == m_activatedUnit)
            return false; // this NAV packet's button has run already
        unit = m_shownUnit;
    }
    if (!hasButtons(unit) || buttonAt(unit->pci, x, y) == 0)
        return false; // a click outside every button does nothing
    {
        std::lock_guard state(m_stateMutex);
        m_activatedUnit = unit;
    }
    post([this, unit, x, y] {
        if (withPci(unit, [&](pci_t *pci) { return dvdnav_mouse_activate(m_navigator.handle(), pci, x, y); })
            != DVDNAV_STATUS_OK)
            refuse(QStringLiteral("Button"));
    }, Flush{});
    return true;
}

bool PlaybackPipeline::activateSelectedButton()
{
    std::shared_ptr<const NavUnit> unit;
    {
        std::lock_guard state(m_stateMutex);
        if (m_shownUnit && m_shownUnit == m_activatedUnit)
            return false;
        unit = m_shownUnit;
    }
    const int button = m_highlightButton.load();
    if (!hasButtons(unit) || button < 1 || button > buttonCount(unit->pci))
        return false;
    {
        std::lock_guard state(m_stateMutex);
        m_activatedUnit = unit;
    }
    post([this, unit] {
        if (withPci(unit, [&](pci_t *pci) { return dvdnav_button_activate(m_navigator.handle(), pci); })
            != DVDNAV_STATUS_OK)
            refuse(QStringLiteral("Button"));
    }, Flush{});
    return true;
}

} // namespace velmora::core
