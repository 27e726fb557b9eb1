// The key source that reads our own windows (used where there is no X11).

#include "shell/poll/KeySource.h"

#include <QApplication>
#include <QWidget>
#include <QtTest>

using namespace velmora;

class TestKeySources : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tapSeenOnceHeldSeenAlways();
    void keypadOnlyForVolume_data();
    void keypadOnlyForVolume();
    void altF4IsNotPlainF4();
    void mouseButtons();
    void fallbackWithoutX11();

private:
    std::unique_ptr<WindowKeySource> m_source;
    std::unique_ptr<QWidget> m_window;
};

void TestKeySources::init()
{
    m_source = std::make_unique<WindowKeySource>();
    m_window = std::make_unique<QWidget>();
    m_window->resize(100, 100);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestKeySources::cleanup()
{
    m_window.reset();
    m_source.reset();
}

void TestKeySources::tapSeenOnceHeldSeenAlways()
{
    QTest::keyClick(m_window.get(), Qt::Key_M);
    QTest::keyClick(m_window.get(), Qt::Key_M);
    QVERIFY(m_source->sample(VirtualKey::M).pressed);
    QVERIFY(!m_source->sample(VirtualKey::M).pressed);

    QTest::keyPress(m_window.get(), Qt::Key_PageDown);
    QVERIFY(m_source->sample(VirtualKey::PageDown).pressed);
    QVERIFY(m_source->sample(VirtualKey::PageDown).pressed);
    QTest::keyRelease(m_window.get(), Qt::Key_PageDown);
    QVERIFY(!m_source->sample(VirtualKey::PageDown).pressed);

    // Both Return keys are Enter; other keys are nothing of ours.
    QTest::keyClick(m_window.get(), Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(m_source->sample(VirtualKey::Enter).pressed);
    QTest::keyClick(m_window.get(), Qt::Key_Q);
    for (VirtualKey k : PolledKeys)
        QVERIFY(!m_source->sample(k).pressed);
}

void TestKeySources::keypadOnlyForVolume_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("keypad");
    QTest::addColumn<bool>("plus");
    QTest::addColumn<bool>("minus");
    QTest::newRow("keypad +") << int(Qt::Key_Plus) << true << true << false;
    QTest::newRow("keypad -") << int(Qt::Key_Minus) << true << false << true;
    QTest::newRow("main +") << int(Qt::Key_Plus) << false << false << false;
    QTest::newRow("main -") << int(Qt::Key_Minus) << false << false << false;
}

void TestKeySources::keypadOnlyForVolume()
{
    QFETCH(int, key);
    QFETCH(bool, keypad);
    QFETCH(bool, plus);
    QFETCH(bool, minus);
    QTest::keyClick(m_window.get(), Qt::Key(key), keypad ? Qt::KeypadModifier : Qt::NoModifier);
    QCOMPARE(m_source->sample(VirtualKey::KeypadPlus).pressed, plus);
    QCOMPARE(m_source->sample(VirtualKey::KeypadMinus).pressed, minus);
}

void TestKeySources::altF4IsNotPlainF4()
{
    QTest::keyClick(m_window.get(), Qt::Key_F4, Qt::AltModifier);
    KeySample s = m_source->sample(VirtualKey::F4);
    QVERIFY(s.pressed);
    QVERIFY(!s.withoutAlt);

    QTest::keyClick(m_window.get(), Qt::Key_F4, Qt::AltModifier);
    QTest::keyClick(m_window.get(), Qt::Key_F4);
    s = m_source->sample(VirtualKey::F4);
    QVERIFY(s.pressed);
    QVERIFY(s.withoutAlt);

    // Alt held on its own, then F4.
    QTest::keyPress(m_window.get(), Qt::Key_Alt);
    QTest::keyClick(m_window.get(), Qt::Key_F4);
    QTest::keyRelease(m_window.get(), Qt::Key_Alt);
    s = m_source->sample(VirtualKey::F4);
    QVERIFY(s.pressed);
    QVERIFY(!s.withoutAlt);
}

void TestKeySources::mouseButtons()
{
    QTest::mouseClick(m_window.get(), Qt::LeftButton);
    QVERIFY(m_source->sample(VirtualKey::LeftButton).pressed);
    QVERIFY(!m_source->sample(VirtualKey::RightButton).pressed);
    QTest::mouseClick(m_window.get(), Qt::RightButton);
    QTest::mouseClick(m_window.get(), Qt::MiddleButton);
    QVERIFY(!m_source->sample(VirtualKey::LeftButton).pressed);
    QVERIFY(m_source->sample(VirtualKey::RightButton).pressed);
}

void TestKeySources::fallbackWithoutX11()
{
    QVERIFY(!createX11KeySource());
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("no X11 input"));
    auto source = createKeySource();
    QCOMPARE(source->name(), "windows");
}

QTEST_MAIN(TestKeySources)
#include "test_key_sources.moc"
