#pragma once
// The seek bar: a custom-painted position control.
//
// Geometry and mouse positions are kept in twips (1/1440 inch) and drawn at
// the widget's pixel scale (twipsPerPixel(), 15 at 96 dpi). Three shapes are
// painted back to front: the background box, the bar whose length stands for
// Value out of MaxValue, and the slider, shown only while the user presses.
//
// Values are 16-bit. The property setters validate and report invalid values
// with a modal critical message box titled "Invalid Property Value"; they
// never throw. A press or move turns the slider position into a time code
// (PositionToTime -> SeekTime); a release asks the engine to play from
// SeekTime through the play-at-time handler, moves the bar to the release
// point and emits ProgressUpdate.
//
// Colours are 0x00BBGGRR values, as the property bag stores them.

#include <QString>
#include <QVariantMap>
#include <QWidget>
#include <functional>

namespace velmora {

// A small property bag: key -> value; a value equal to its default is not
// written, and a missing key reads as the default.
class PropertyBag
{
public:
    QVariant ReadProperty(const QString &key, const QVariant &defaultValue) const;
    void WriteProperty(const QString &key, const QVariant &value, const QVariant &defaultValue);
    bool contains(const QString &key) const { return m_values.contains(key); }
    const QVariantMap &values() const { return m_values; }

private:
    QVariantMap m_values;
};

class ProgressBar : public QWidget
{
    Q_OBJECT
public:
    // Defaults of the properties.
    static constexpr int DefaultFillColour = 0x4D1300;
    static constexpr int DefaultBorderColour = 0xE27272;
    static constexpr int DefaultBarColour = 0xE27272;
    static constexpr int DefaultBarBorderColour = 0xE27272;
    static constexpr int DefaultMaxValue = 100;
    static constexpr int DefaultValue = 0;
    static constexpr int DefaultSliderBackstyle = 0;
    static constexpr bool DefaultAllowSlider = true;
    static constexpr bool DefaultAllowSeek = true;
    static constexpr int DefaultSliderBorderColour = 0x4D1300;
    static constexpr int DefaultSliderFillColour = 0xFFFFFF;

    static inline const QString MessageTitle = QStringLiteral("Invalid Property Value");

    explicit ProgressBar(QWidget *parent = nullptr);

    // ---- Properties ----
    int FillColour() const { return m_fillColour; }
    void setFillColour(int colour);
    int BorderColour() const { return m_borderColour; }
    void setBorderColour(int colour);
    int BarColour() const { return m_barColour; }
    void setBarColour(int colour);
    int BarBorderColour() const { return m_barBorderColour; }
    void setBarBorderColour(int colour);
    int MaxValue() const { return m_maxValue; }
    void setMaxValue(int value);
    int Value() const { return m_value; }
    void setValue(int value);
    int SliderBackstyle() const { return m_sliderBackstyle; }
    void setSliderBackstyle(int style);
    bool AllowSlider() const { return m_allowSlider; }
    void setAllowSlider(bool allow);
    bool AllowSeek() const { return m_allowSeek; }
    void setAllowSeek(bool allow);
    int SliderBorderColour() const { return m_sliderBorderColour; }
    void setSliderBorderColour(int colour);
    int SliderFillColour() const { return m_sliderFillColour; }
    void setSliderFillColour(int colour);

    // ---- Saved properties ----
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag);

    // ---- Routines ----
    void ApplyColours();
    void UpdateBar();

    // ---- Where the seek goes ----
    // Called on release with SeekTime; throws (any exception) when the engine
    // refuses. Without a handler a release fails like a refused seek.
    void setPlayAtTime(std::function<void(const QString &timeCode)> handler);

    // ---- Geometry in twips (read-only views for the host and for tests) ----
    double twipsPerPixel() const;
    // Control size in twips.
    double twipsWidth() const;
    double twipsHeight() const;
    int StepWidth() const { return m_stepWidth; }
    bool Dragging() const { return m_dragging; }
    // Background box, bar and slider in twips.
    QRectF backgroundRect() const;
    QRectF barRect() const;
    bool barVisible() const { return m_barVisible; }
    QRectF sliderRect() const;
    bool sliderVisible() const { return m_sliderVisible; }

    // The mouse handlers in twips (the Qt mouse events call these).
    void MouseDown(double x);
    void MouseMove(double x);
    void MouseUp(double x);

    // Maps a horizontal position in twips onto the value scale by the release
    // rule (0 at or left of the edge, MaxValue past width - 105).
    int positionToValue(double x) const;

    // Where validation messages go: a modal critical box by default. Tests
    // install a recorder. Pass nullptr to restore the message box.
    static void setMessageHandler(std::function<void(QWidget *owner, const QString &text)> handler);

signals:
    // After a release; value is the control's own Value (a receiver may change it).
    void ProgressUpdate(qint16 &value);
    // A property was stored (name as saved, e.g. "Value").
    void PropertyChanged(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showMessage(const QString &text);
    void placeSlider(double x);
    void updateSeekTime();
    void resetAfterFailure();
    void syncGeometry();
    void setColour(int &member, int colour, const char *name);

    // Properties.
    int m_fillColour = DefaultFillColour;
    int m_borderColour = DefaultBorderColour;
    int m_barColour = DefaultBarColour;
    int m_barBorderColour = DefaultBarBorderColour;
    qint16 m_maxValue = DefaultMaxValue;
    qint16 m_value = DefaultValue;
    qint16 m_sliderBackstyle = DefaultSliderBackstyle;
    bool m_allowSlider = DefaultAllowSlider;
    bool m_allowSeek = DefaultAllowSeek;
    int m_sliderBorderColour = DefaultSliderBorderColour;
    int m_sliderFillColour = DefaultSliderFillColour;

    // Shapes, in twips.
    double m_barWidth = 0;
    bool m_barVisible = false;
    double m_sliderLeft = 0;
    bool m_sliderVisible = false;

    QSize m_syncedSize{-1, -1};
    qint16 m_stepWidth = 0;
    bool m_dragging = false;
    std::function<void(const QString &)> m_playAtTime;
};

} // namespace velmora
