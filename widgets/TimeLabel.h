#pragma once
// A label that reports every assignment of its caption (the time caption of
// the video window: each assignment moves the seek bar).
//
// setText() hides QLabel::setText: call it through a TimeLabel pointer (as
// Form4::lTime is declared) so Change() fires.

#include <QLabel>

namespace velmora {

class TimeLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

    void setText(const QString &text)
    {
        QLabel::setText(text);
        emit Change();
    }

signals:
    void Change();
};

} // namespace velmora
