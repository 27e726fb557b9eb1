// The seek bar: geometry in twips, validation, saved properties, press,
// drag and release.
#include "widgets/ProgressBar.h"
#include "widgets/VDrive.h"

#include <QSignalSpy>
#include <QTest>
#include <stdexcept>

using namespace velmora;

class TestProgressBar : public QObject
{
    Q_OBJECT

private:
    QStringList m_messages;
    QStringList m_seeks;
    bool m_refuseSeek = false;
    QList<int> m_updates;

    // The control panel's seek bar: 273 x 9 pixels, 4095 x 135 twips.
    std::unique_ptr<ProgressBar> panelBar()
    {
        auto bar = std::make_unique<ProgressBar>();
        bar->resize(273, 9);
        bar->setPlayAtTime([this](const QString &t) {
            m_seeks.append(t);
            if (m_refuseSeek)
                throw std::runtime_error("refused");
        });
        connect(bar.get(), &ProgressBar::ProgressUpdate, this, [this](qint16 &v) { m_updates.append(v); });
        return bar;
    }

private slots:
    void initTestCase()
    {
        ProgressBar::setMessageHandler([this](QWidget *, const QString &text) { m_messages.append(text); });
    }
    void init()
    {
        m_messages.clear();
        m_seeks.clear();
        m_updates.clear();
        m_refuseSeek = false;
        TitleSeconds = 5400;
    }

    void panelGeometry()
    {
        auto bar = panelBar();
        QCOMPARE(bar->twipsPerPixel(), 15.0);
        QCOMPARE(bar->twipsWidth(), 4095.0);
        QCOMPARE(bar->backgroundRect(), QRectF(15, 15, 4073, 113));
        QCOMPARE(bar->barRect().top(), 40.0);
        QCOMPARE(bar->barRect().height(), 65.0);
        QCOMPARE(bar->sliderRect().height(), 135.0);
        QVERIFY(!bar->sliderVisible());
        QVERIFY(!bar->barVisible());

        bar->setValue(100);
        QCOMPARE(bar->StepWidth(), 40);
        QCOMPARE(bar->barRect().width(), 3968.0);
        QVERIFY(bar->barVisible());
        bar->setValue(50);
        QCOMPARE(bar->barRect().width(), 2000.0);
        bar->setValue(0);
        QCOMPARE(bar->barRect().width(), 0.0);
        QVERIFY(!bar->barVisible());
        QVERIFY(m_messages.isEmpty());
    }

    void invalidValuesAreReportedAndKept()
    {
        auto bar = panelBar();
        bar->setValue(30);
        bar->setValue(-1);
        bar->setValue(101);
        bar->setMaxValue(0);
        bar->setSliderBackstyle(2);
        QCOMPARE(m_messages, QStringList({
            QStringLiteral("Value must be an integer equal to or greater than 0."),
            QStringLiteral("Value must be an integer equal to or less than ProgressMaxValue."),
            QStringLiteral("Value must be an integer greater than 0."),
            QStringLiteral("Invalid property value. Enter 0 for Opaque, 1 for Transparent"),
        }));
        QCOMPARE(bar->Value(), 30);
        QCOMPARE(bar->MaxValue(), 100);
        QCOMPARE(bar->SliderBackstyle(), 1);
        QCOMPARE(bar->barRect().width(), 1200.0);
    }

    void blackBoxAndBarBringBackTheDefaults()
    {
        auto bar = panelBar();
        bar->setFillColour(0);
        bar->setBorderColour(0);
        bar->setBarColour(0);
        QCOMPARE(bar->FillColour(), 0);
        bar->setBarBorderColour(0);
        QCOMPARE(bar->FillColour(), 0x4D1300);
        QCOMPARE(bar->BorderColour(), 0xE27272);
        QCOMPARE(bar->BarColour(), 0xE27272);
        QCOMPARE(bar->BarBorderColour(), 0xE27272);
    }

    void savedPropertiesFollowTheDefaultRule()
    {
        auto bar = panelBar();
        PropertyBag empty;
        bar->WriteProperties(empty);
        QVERIFY(empty.values().isEmpty());

        bar->setValue(25);
        bar->setSliderBackstyle(1);
        bar->setAllowSeek(false);
        PropertyBag bag;
        bar->WriteProperties(bag);
        QCOMPARE(bag.values().keys(), QStringList({QStringLiteral("AllowSeek"), QStringLiteral("SliderBackStyle"),
                                                   QStringLiteral("Value")}));

        auto copy = panelBar();
        copy->ReadProperties(bag);
        QCOMPARE(copy->Value(), 25);
        QCOMPARE(copy->SliderBackstyle(), 1);
        QCOMPARE(copy->AllowSeek(), false);
        QCOMPARE(copy->AllowSlider(), true);
        QCOMPARE(copy->MaxValue(), 100);
        QCOMPARE(copy->barRect().width(), 1000.0);
    }

    void sliderParksAtTheEdges()
    {
        auto bar = panelBar();
        bar->MouseDown(20);
        QVERIFY(bar->sliderVisible());
        QVERIFY(bar->Dragging());
        QCOMPARE(bar->sliderRect().left(), -45.0);
        bar->MouseMove(2000);
        QCOMPARE(bar->sliderRect().left(), 1955.0);
        bar->MouseMove(4090);
        QCOMPARE(bar->sliderRect().left(), 4005.0);
    }

    void pressAndMoveWriteTheSeekTime()
    {
        auto bar = panelBar();
        // Centre at 2020 twips: 2020 / 40 - 1.5 = 49 on the value scale.
        bar->MouseDown(2020);
        QCOMPARE(SeekTime, QStringLiteral("00:44:06:00"));
        // Left of the first step is the start of the title, never negative.
        bar->MouseMove(30);
        QCOMPARE(SeekTime, QStringLiteral("00:00:00:00"));
        bar->MouseMove(4090);
        QCOMPARE(SeekTime, QStringLiteral("01:30:00:00"));
    }

    void release_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("value");
        QTest::addColumn<double>("barWidth");
        QTest::newRow("left edge") << 0.0 << 0 << 0.0;
        QTest::newRow("left of the control") << -50.0 << 0 << 0.0;
        // Within the first step the value is -1 and the bar keeps its length.
        QTest::newRow("inside the first step") << 20.0 << -1 << 1200.0;
        QTest::newRow("one step rounds -0.5 to 0") << 40.0 << 0 << 0.0;
        QTest::newRow("48.5 rounds to even") << 2000.0 << 48 << 1920.0;
        QTest::newRow("49") << 2020.0 << 49 << 1960.0;
        QTest::newRow("at width - 105") << 3990.0 << 98 << 3920.0;
        QTest::newRow("right of width - 105") << 3991.0 << 100 << 3968.0;
    }
    void release()
    {
        QFETCH(double, x);
        QFETCH(int, value);
        QFETCH(double, barWidth);
        auto bar = panelBar();
        bar->setValue(30);
        bar->MouseDown(x);
        const QString seekTime = SeekTime;
        bar->MouseUp(x);
        QCOMPARE(m_seeks, QStringList{seekTime});
        QCOMPARE(bar->Value(), value);
        QCOMPARE(bar->barRect().width(), barWidth);
        QVERIFY(bar->barVisible());
        QVERIFY(!bar->sliderVisible());
        QVERIFY(!bar->Dragging());
        QCOMPARE(m_updates, QList<int>{value});
        QVERIFY(m_messages.isEmpty());
    }

    void refusedSeekResetsTheBar()
    {
        auto bar = panelBar();
        bar->setValue(30);
        m_refuseSeek = true;
        bar->MouseDown(2000);
        bar->MouseUp(2000);
        QCOMPARE(m_seeks.size(), 1);
        QCOMPARE(bar->Value(), 1);
        QVERIFY(!bar->sliderVisible());
        QVERIFY(!bar->Dragging());
        QVERIFY(m_updates.isEmpty());
    }

    void emptySeekTimeNeverReachesTheEngine()
    {
        auto bar = panelBar();
        bar->setValue(30);
        SeekTime.clear();
        bar->MouseUp(2000);
        QVERIFY(m_seeks.isEmpty());
        QCOMPARE(bar->Value(), 1);
    }

    void withoutSeekingNothingHappensOnRelease()
    {
        auto bar = panelBar();
        bar->setValue(30);
        bar->setAllowSeek(false);
        bar->MouseDown(2000);
        QVERIFY(!bar->sliderVisible());
        bar->MouseUp(2000);
        QVERIFY(m_seeks.isEmpty());
        QCOMPARE(bar->Value(), 30);
        QVERIFY(m_updates.isEmpty());

        bar->setAllowSeek(true);
        bar->setAllowSlider(false);
        bar->MouseDown(2000);
        QVERIFY(!bar->sliderVisible());
        bar->MouseUp(2000);
        QCOMPARE(bar->Value(), 48);
    }

    void invalidScaleOnRelease()
    {
        auto bar = panelBar();
        bar->setValue(10);
        PropertyBag bag;
        bag.WriteProperty(QStringLiteral("MaxValue"), 0, 100);
        bar->ReadProperties(bag);
        QCOMPARE(bar->MaxValue(), 0);
        bar->MouseDown(2000);
        SeekTime = QStringLiteral("00:01:00:00");
        bar->MouseUp(2000);
        QCOMPARE(m_messages, QStringList{QStringLiteral("Max Value contains an invalid property.")});
        QVERIFY(!bar->sliderVisible());
        QVERIFY(m_updates.isEmpty());
    }

    void realMouseEventsAreInTwips()
    {
        auto bar = panelBar();
        bar->show();
        QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
        // Pixel 134 is twip 2010: 2010 / 40 - 1.5 = 48.75 -> 49.
        QTest::mousePress(bar.get(), Qt::LeftButton, {}, QPoint(134, 4));
        QVERIFY(bar->sliderVisible());
        QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, QPoint(134, 4));
        QCOMPARE(bar->Value(), 49);
        QCOMPARE(m_seeks.size(), 1);
    }
};

QTEST_MAIN(TestProgressBar)
#include "test_progressbar.moc"
