#pragma once
// The control panel: the borderless skinned start-up window.
//
// Form_Load brings the whole player up: placement near the bottom of the
// screen, the skin, the video window, the mixer and the volume slider. The
// layout pass (resize) puts every control on its spot of the 418 x 113 skin
// and shows the video window. Buttons only emit their clicks; the command
// handlers are connected by the shell's wiring.
//
// Window positions are in twips (1440 per inch, from the screen's logical
// dpi); the controls inside are laid out in pixels.

#include <QPointF>
#include <QSizeF>
#include <QWidget>

class QPushButton;
class QSlider;
class QTimer;

namespace velmora {

class ImageButton;
class ProgressBar;
class ButtonSkinner;

class Form6 : public QWidget
{
    Q_OBJECT
public:
    // Designer client size and the size set at load, in twips.
    static constexpr double DesignWidth = 6315;
    static constexpr double DesignHeight = 1710;
    static constexpr double LoadWidth = 6275;
    static constexpr double LoadHeight = 1690;

    explicit Form6(QWidget *parent = nullptr);
    ~Form6() override;

    ImageButton *Playi;
    ImageButton *Pausei;
    ImageButton *Stopi;
    ImageButton *Previ;
    ImageButton *Nexti;
    ImageButton *FBi;
    ImageButton *FFi;
    ImageButton *Ejecti;
    ImageButton *Op;
    ImageButton *Mute;
    ImageButton *MuteOff;
    ImageButton *Image1;
    ImageButton *Image2;
    ImageButton *Picture1;
    ImageButton *Picture2;
    ImageButton *Picture3;
    ProgressBar *Seek;
    QSlider *Slider1;
    QTimer *Timer1;
    QTimer *Timer2;
    QPushButton *PlayT;
    QPushButton *Pause;

    // The start-up sequence (run once by form6()).
    void Form_Load();
    // Every panel button to its normal picture.
    void Intial();
    // Panel size, video window, background colour, normal pictures.
    void loadi();
    // Volume slider +10 / -10 and the master volume to match.
    void Volup();
    void VolDown();
    // The layout pass (runs on every resize).
    void Form_Resize();

    // 0 normal, 1 minimized, 2 maximized.
    int WindowState() const;

    // Window position and size in twips, as last set.
    double Left() const { return m_left; }
    double Top() const { return m_top; }
    double Width() const { return m_width; }
    double Height() const { return m_height; }
    void setPosition(double left, double top);
    void setSize(double width, double height);

    // Start position for a screen of the given size in twips: centred
    // horizontally for the designer width, 1800 twips above the bottom for
    // the designer height.
    static QPointF startPosition(const QSizeF &screenTwips);

    ButtonSkinner *skins() const { return m_skins; }

    // Right-click menu and drag on the background.
    void Form_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void Form_MouseMove(Qt::MouseButtons buttons);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void Slider1_Change(int value);
    void wire();

    ButtonSkinner *m_skins;
    bool m_dragArmed = false;
    double m_left = 0;
    double m_top = 0;
    double m_width = DesignWidth;
    double m_height = DesignHeight;
};

} // namespace velmora
