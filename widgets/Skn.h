#pragma once
// The skin store: a hidden window that owns the 62 named button pictures.
//
// Created on first reference (skn()) and never shown. Every button that shows
// a picture shows the store's QPixmap itself, so all buttons showing, say,
// "EjectN" share one picture. A picture whose file is missing from the skin
// resources is replaced by a flat grey picture of the catalogued size, so the
// layout never depends on the artwork being complete.

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QWidget>

namespace velmora {

struct SkinImage
{
    const char *name; // e.g. "EjectN"
    const char *file; // resource file name, e.g. "EjectN.bmp"
    QSize size;       // pixel size of the artwork
};

class Skn : public QWidget
{
    Q_OBJECT
public:
    explicit Skn(QWidget *parent = nullptr);

    // The catalogue of the 62 pictures, in a fixed order.
    static const QList<SkinImage> &catalogue();

    // The store's picture called name; a null pixmap for an unknown name.
    const QPixmap &Picture(const QString &name) const;
    bool contains(const QString &name) const { return m_pictures.contains(name); }
    // Names whose artwork was missing and replaced by the grey stand-in.
    QStringList missing() const { return m_missing; }

    // The panel background (418 x 113) and the program icon.
    const QPixmap &panelBackground() const { return m_panel; }
    const QPixmap &icon() const { return m_icon; }

private:
    QHash<QString, QPixmap> m_pictures;
    QStringList m_missing;
    QPixmap m_panel;
    QPixmap m_icon;
};

// The single store, created hidden on first reference.
Skn &skn();

} // namespace velmora
