#include "TextEntryFocus.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace velmora {

TextEntryFocus &TextEntryFocus::instance()
{
    static TextEntryFocus *focus = new TextEntryFocus; // lives as long as the application
    return *focus;
}

TextEntryFocus::TextEntryFocus()
    : QObject(qApp)
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { update(now); });
    update(QApplication::focusWidget());
}

bool TextEntryFocus::isTextEntry(const QWidget *w)
{
    if (!w)
        return false;
    if (const auto *e = qobject_cast<const QLineEdit *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QTextEdit *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QPlainTextEdit *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QAbstractSpinBox *>(w))
        return !e->isReadOnly();
    if (const auto *e = qobject_cast<const QComboBox *>(w))
        return e->isEditable();
    return false;
}

void TextEntryFocus::update(QWidget *now)
{
    const bool active = isTextEntry(now);
    // Entering, leaving, and moving from one text entry to another.
    if (active || m_active)
        ++m_changes;
    m_active = active;
}

} // namespace velmora
