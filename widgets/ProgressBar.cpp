#include "ProgressBar.h"

#include "VDrive.h"

#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <stdexcept>

namespace velmora {

namespace {

// Fixed shape geometry, in twips.
constexpr double BoxLeft = 15;
constexpr double BoxTop = 15;
constexpr double BoxInset = 22;     // control size minus box size
constexpr double BarLeft = 20;
constexpr double BarTop = 40;
constexpr double BarInset = 70;     // control height minus bar height
constexpr double BarShortfall = 105; // box width minus a full bar
constexpr double SliderTop = 22;
constexpr double SliderWidth = 90;
constexpr double SliderHalf = SliderWidth / 2;

// The slider body when its back style hides SliderFillColour.
const QColor SliderBody(0xD8, 0xDC, 0xE8);

std::function<void(QWidget *, const QString &)> g_messageHandler;

QColor fromBgr(int colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

const QString KeyFillColour = QStringLiteral("FillColour");
const QString KeyBorderColour = QStringLiteral("BorderColour");
const QString KeyBarColour = QStringLiteral("BarColour");
const QString KeyBarBorderColour = QStringLiteral("BarBorderColour");
const QString KeyMaxValue = QStringLiteral("MaxValue");
const QString KeyValue = QStringLiteral("Value");
const QString KeySliderBackStyle = QStringLiteral("SliderBackStyle");
const QString KeyAllowSlider = QStringLiteral("AllowSlider");
const QString KeyAllowSeek = QStringLiteral("AllowSeek");
const QString KeySliderBorderColour = QStringLiteral("SliderBorderColour");
const QString KeySliderFillColour = QStringLiteral("SliderFillColour");

qint16 read16(const PropertyBag &bag, const QString &key, int def)
{
    try {
        return toInt16(bag.ReadProperty(key, def).toDouble());
    } catch (const std::exception &) {
        return qint16(def);
    }
}

} // namespace

// ---- PropertyBag ----

QVariant PropertyBag::ReadProperty(const QString &key, const QVariant &defaultValue) const
{
    return m_values.value(key, defaultValue);
}

void PropertyBag::WriteProperty(const QString &key, const QVariant &value, const QVariant &defaultValue)
{
    if (value == defaultValue)
        m_values.remove(key);
    else
        m_values.insert(key, value);
}

// ---- ProgressBar ----

ProgressBar::ProgressBar(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBar::setMessageHandler(std::function<void(QWidget *, const QString &)> handler)
{
    g_messageHandler = std::move(handler);
}

void ProgressBar::showMessage(const QString &text)
{
    if (g_messageHandler) {
        g_messageHandler(this, text);
        return;
    }
    QMessageBox::critical(this, MessageTitle, text, QMessageBox::Ok);
}

double ProgressBar::twipsPerPixel() const
{
    const int dpi = logicalDpiX();
    return dpi > 0 ? 1440.0 / dpi : 15.0;
}

double ProgressBar::twipsWidth() const { return width() * twipsPerPixel(); }
double ProgressBar::twipsHeight() const { return height() * twipsPerPixel(); }

// The box, the bar's height and the slider's height follow the control's size.
QRectF ProgressBar::backgroundRect() const
{
    return {BoxLeft, BoxTop, twipsWidth() - BoxInset, twipsHeight() - BoxInset};
}
QRectF ProgressBar::barRect() const { return {BarLeft, BarTop, m_barWidth, twipsHeight() - BarInset}; }
QRectF ProgressBar::sliderRect() const { return {m_sliderLeft, SliderTop, SliderWidth, twipsHeight()}; }

// ---- Properties ----

void ProgressBar::setColour(int &member, int colour, const char *name)
{
    member = colour;
    emit PropertyChanged(QString::fromLatin1(name));
    ApplyColours();
}

void ProgressBar::setFillColour(int colour) { setColour(m_fillColour, colour, "FillColour"); }
void ProgressBar::setBorderColour(int colour) { setColour(m_borderColour, colour, "BorderColour"); }
void ProgressBar::setBarColour(int colour) { setColour(m_barColour, colour, "BarColour"); }
void ProgressBar::setBarBorderColour(int colour) { setColour(m_barBorderColour, colour, "BarBorderColour"); }
void ProgressBar::setSliderBorderColour(int colour) { setColour(m_sliderBorderColour, colour, "SliderBorderColour"); }
void ProgressBar::setSliderFillColour(int colour) { setColour(m_sliderFillColour, colour, "SliderFillColour"); }

void ProgressBar::setSliderBackstyle(int style)
{
    if (style != 0 && style != 1) {
        showMessage(QStringLiteral("Invalid property value. Enter 0 for Opaque, 1 for Transparent"));
        style = 1;
    }
    m_sliderBackstyle = qint16(style);
    emit PropertyChanged(KeySliderBackStyle);
    ApplyColours();
}

void ProgressBar::setAllowSlider(bool allow)
{
    m_allowSlider = allow;
    emit PropertyChanged(KeyAllowSlider);
}

void ProgressBar::setAllowSeek(bool allow)
{
    m_allowSeek = allow;
    emit PropertyChanged(KeyAllowSeek);
}

void ProgressBar::setMaxValue(int value)
{
    if (value <= 0) {
        showMessage(QStringLiteral("Value must be an integer greater than 0."));
    } else if (value <= 32767) {
        m_maxValue = qint16(value);
        emit PropertyChanged(KeyMaxValue);
    }
    try {
        UpdateBar();
    } catch (const std::exception &) {
        // A bar longer than 16 bits can hold: it keeps its length.
    }
}

void ProgressBar::setValue(int value)
{
    if (value < 0) {
        showMessage(QStringLiteral("Value must be an integer equal to or greater than 0."));
    } else if (value > m_maxValue) {
        showMessage(QStringLiteral("Value must be an integer equal to or less than ProgressMaxValue."));
    } else {
        m_value = qint16(value);
        emit PropertyChanged(KeyValue);
    }
    try {
        UpdateBar();
    } catch (const std::exception &) {
        // A bar longer than 16 bits can hold: it keeps its length.
    }
}

// ---- Saved properties ----

void ProgressBar::ReadProperties(const PropertyBag &bag)
{
    m_fillColour = bag.ReadProperty(KeyFillColour, DefaultFillColour).toInt();
    m_borderColour = bag.ReadProperty(KeyBorderColour, DefaultBorderColour).toInt();
    m_barColour = bag.ReadProperty(KeyBarColour, DefaultBarColour).toInt();
    m_barBorderColour = bag.ReadProperty(KeyBarBorderColour, DefaultBarBorderColour).toInt();
    m_maxValue = read16(bag, KeyMaxValue, DefaultMaxValue);
    m_value = read16(bag, KeyValue, DefaultValue);
    m_sliderBackstyle = read16(bag, KeySliderBackStyle, DefaultSliderBackstyle);
    m_allowSlider = bag.ReadProperty(KeyAllowSlider, DefaultAllowSlider).toBool();
    m_allowSeek = bag.ReadProperty(KeyAllowSeek, DefaultAllowSeek).toBool();
    m_sliderBorderColour = bag.ReadProperty(KeySliderBorderColour, DefaultSliderBorderColour).toInt();
    m_sliderFillColour = bag.ReadProperty(KeySliderFillColour, DefaultSliderFillColour).toInt();
    ApplyColours();
    try {
        UpdateBar();
    } catch (const std::exception &) {
    }
}

void ProgressBar::WriteProperties(PropertyBag &bag)
{
    bag.WriteProperty(KeyFillColour, m_fillColour, DefaultFillColour);
    bag.WriteProperty(KeyBorderColour, m_borderColour, DefaultBorderColour);
    bag.WriteProperty(KeyBarColour, m_barColour, DefaultBarColour);
    bag.WriteProperty(KeyBarBorderColour, m_barBorderColour, DefaultBarBorderColour);
    bag.WriteProperty(KeyMaxValue, int(m_maxValue), DefaultMaxValue);
    bag.WriteProperty(KeyValue, int(m_value), DefaultValue);
    bag.WriteProperty(KeySliderBackStyle, int(m_sliderBackstyle), DefaultSliderBackstyle);
    bag.WriteProperty(KeyAllowSlider, m_allowSlider, DefaultAllowSlider);
    bag.WriteProperty(KeyAllowSeek, m_allowSeek, DefaultAllowSeek);
    bag.WriteProperty(KeySliderBorderColour, m_sliderBorderColour, DefaultSliderBorderColour);
    bag.WriteProperty(KeySliderFillColour, m_sliderFillColour, DefaultSliderFillColour);
    ApplyColours();
    try {
        UpdateBar();
    } catch (const std::exception &) {
    }
}

// ---- Routines ----

void ProgressBar::ApplyColours()
{
    // All four box and bar colours black means "never set": back to the defaults.
    if (m_fillColour == 0 && m_borderColour == 0 && m_barColour == 0 && m_barBorderColour == 0) {
        m_fillColour = DefaultFillColour;
        m_borderColour = DefaultBorderColour;
        m_barColour = DefaultBarColour;
        m_barBorderColour = DefaultBarBorderColour;
    }
    update();
}

void ProgressBar::UpdateBar()
{
    syncGeometry();
    if (m_maxValue < 1)
        return;
    const double fullBar = backgroundRect().width() - BarShortfall;
    m_stepWidth = toInt16(fullBar / m_maxValue);
    if (m_value > 0 && m_value < m_maxValue) {
        const qint32 length = qint32(m_value) * qint32(m_stepWidth);
        if (length > 32767 || length < -32768)
            throw std::overflow_error("bar length beyond 16 bits");
        m_barWidth = length;
        m_barVisible = true;
    } else if (m_value == 0) {
        m_barWidth = 0;
        m_barVisible = false;
    } else if (m_value == m_maxValue) {
        m_barVisible = true;
        m_barWidth = fullBar;
    }
    update();
}

void ProgressBar::setPlayAtTime(std::function<void(const QString &)> handler)
{
    m_playAtTime = std::move(handler);
}

// ---- Mouse ----

int ProgressBar::positionToValue(double x) const
{
    if (x <= 0)
        return 0;
    if (x > twipsWidth() - BarShortfall)
        return m_maxValue;
    if (m_stepWidth == 0)
        throw std::domain_error("step width 0");
    return toInt16(x / m_stepWidth - 1.5);
}

void ProgressBar::placeSlider(double x)
{
    // Single precision, as the slider's position always was.
    float left = float(x) - float(SliderHalf);
    if (left < 0)
        left = -float(SliderHalf);
    if (left + float(SliderWidth) > float(twipsWidth()))
        left = float(twipsWidth()) - float(SliderWidth);
    m_sliderLeft = left;
}

void ProgressBar::resetAfterFailure()
{
    setValue(1);
}

void ProgressBar::updateSeekTime()
{
    try {
        // The slider's centre onto the value scale by the release rule; a
        // centre left of the first step counts as the start of the title.
        const int position = qBound(0, positionToValue(m_sliderLeft + SliderHalf), int(m_maxValue));
        PositionToTime(position, m_maxValue);
    } catch (const std::exception &) {
        resetAfterFailure();
    }
}

void ProgressBar::MouseDown(double x)
{
    syncGeometry();
    if (m_allowSeek && m_allowSlider) {
        m_dragging = true;
        placeSlider(x);
        m_sliderVisible = true;
        update();
    }
    updateSeekTime();
}

void ProgressBar::MouseMove(double x)
{
    syncGeometry();
    if (m_dragging) {
        placeSlider(x);
        update();
    }
    updateSeekTime();
}

void ProgressBar::MouseUp(double x)
{
    if (!m_allowSeek)
        return;
    syncGeometry();
    try {
        // The seek comes first; the bar moves only once the engine took it.
        if (SeekTime.isEmpty())
            throw std::invalid_argument("no seek time");
        if (!m_playAtTime)
            throw std::logic_error("nothing to seek");
        m_playAtTime(SeekTime);
        if (m_maxValue >= 1) {
            m_dragging = false;
            m_sliderVisible = false;
            m_value = qint16(positionToValue(x));
            emit PropertyChanged(KeyValue);
            UpdateBar();
            m_barVisible = true;
            update();
            emit ProgressUpdate(m_value);
        } else {
            showMessage(QStringLiteral("Max Value contains an invalid property."));
            m_dragging = false;
            m_sliderVisible = false;
            update();
        }
    } catch (const std::exception &) {
        resetAfterFailure();
        m_dragging = false;
        m_sliderVisible = false;
        update();
    }
}

void ProgressBar::mousePressEvent(QMouseEvent *event)
{
    MouseDown(event->position().x() * twipsPerPixel());
    event->accept();
}

void ProgressBar::mouseMoveEvent(QMouseEvent *event)
{
    MouseMove(event->position().x() * twipsPerPixel());
    event->accept();
}

void ProgressBar::mouseReleaseEvent(QMouseEvent *event)
{
    MouseUp(event->position().x() * twipsPerPixel());
    event->accept();
}

// ---- Geometry and painting ----

void ProgressBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (height() <= 0) {
        resize(width(), 1);
        return;
    }
    if (width() <= 0) {
        resize(1, height());
        return;
    }
    syncGeometry();
}

void ProgressBar::syncGeometry()
{
    // Qt holds back resize events of hidden widgets; the shapes follow the
    // size whether or not the control has been shown yet.
    if (m_syncedSize == size())
        return;
    m_syncedSize = size();
    // Keep the step width in line with the new box.
    try {
        UpdateBar();
    } catch (const std::exception &) {
    }
}

void ProgressBar::paintEvent(QPaintEvent *)
{
    syncGeometry();
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const double tpp = twipsPerPixel();
    painter.scale(1.0 / tpp, 1.0 / tpp);

    // Outlines one pixel wide, drawn inside their shape.
    auto drawShape = [&](const QRectF &shape, const QBrush &fill, const QColor &outline) {
        if (shape.width() <= 0 || shape.height() <= 0)
            return;
        painter.fillRect(shape, fill);
        QPen pen(outline);
        pen.setCosmetic(true);
        pen.setWidth(1);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(shape.adjusted(0, 0, -tpp, -tpp));
    };

    drawShape(backgroundRect(), fromBgr(m_fillColour), fromBgr(m_borderColour));
    if (m_barVisible)
        drawShape(barRect(), fromBgr(m_barColour), fromBgr(m_barBorderColour));
    if (m_sliderVisible) {
        const QBrush body = m_sliderBackstyle == 1 ? QBrush(fromBgr(m_sliderFillColour)) : QBrush(SliderBody);
        drawShape(sliderRect(), body, fromBgr(m_sliderBorderColour));
    }
}

} // namespace velmora
