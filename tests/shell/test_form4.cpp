// The video window: placement, layouts, load, and the three engine events.
#include "ShellFixture.h"

#include "engine/TimeCode.h"
#include "widgets/ImageButton.h"
#include "widgets/TimeLabel.h"
#include "widgets/VDrive.h"

#ifdef VELMORA_HAVE_SERVICES_SETTINGS
#include "services/Settings.h"
#endif

#include <QLabel>
#include <QPushButton>

using namespace velmora;
using namespace velmora::testing;

class TestForm4 : public QObject
{
    Q_OBJECT

private:
    ShellFixture m_fixture;

    ScriptedEngine &engine() { return *m_fixture.engine; }

    struct Captions
    {
        QString time, chapter, title;
    };
    Captions captions()
    {
        return {form4().lTime->text(), form4().Chapter->text(), form4().title->text()};
    }
    void setCaptions(const QString &time, const QString &chapter, const QString &title)
    {
        form4().lTime->QLabel::setText(time);
        form4().Chapter->setText(chapter);
        form4().title->setText(title);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixture.home.isValid());
        m_fixture.setUp();
        m_fixture.start();
        QVERIFY(m_fixture.exposed);
        QVERIFY(m_fixture.engine);
    }
    void init()
    {
        engine().calls.clear();
        engine().failures.clear();
        m_fixture.messages.clear();
    }

    void centredAboveTheMiddle()
    {
        QCOMPARE(Form4::centrePosition(QSizeF(15360, 11520), QSizeF(9165, 6180)), QPointF(3097.5, 1470));
        Form4 &video = form4();
        const QSizeF screen = QSizeF(video.screen()->geometry().size()) * 15;
        QCOMPARE(QPointF(video.Left(), video.Top()), Form4::centrePosition(screen, QSizeF(9165, 6180)));
        QVERIFY(video.Play->isHidden());
        QVERIFY(video.Pause->isHidden());
        QVERIFY(video.ds->isHidden());
    }

    void normalLayoutAt400By300()
    {
        Form4 &video = form4();
        video.resize(400, 300);
        QTRY_COMPARE(video.size(), QSize(400, 300));
        video.Form_Resize();
        QCOMPARE(engine().calls.last(), QStringLiteral("Move(20,50,360,230)"));
        QCOMPARE(engine().surface()->geometry(), QRect(20, 50, 360, 230));
        QCOMPARE(video.Picture1->pos(), QPoint(295, 0));
        QCOMPARE(video.Picture2->pos(), QPoint(330, 0));
        QCOMPARE(video.Picture3->pos(), QPoint(365, 0));
        QCOMPARE(video.ds->pos(), QPoint(20, 50));
        QVERIFY(video.Picture1->isVisible());
        // The video window's layout shows the panel.
        form6().hide();
        video.Form_Resize();
        QVERIFY(form6().isVisible());
    }

    void fullScreenAndBack()
    {
        Form4 &video = form4();
        video.Fullscreen();
        QCOMPARE(video.WindowState(), 2);
        QTRY_VERIFY(engine().surface()->geometry() == video.rect());
        QCOMPARE(video.ds->pos(), QPoint(1, 1));
        QVERIFY(video.Picture1->isHidden());
        QVERIFY(video.Picture2->isHidden());
        QVERIFY(video.Picture3->isHidden());
        // A later size change keeps the full-screen layout.
        video.Form_Resize();
        QCOMPARE(engine().surface()->geometry(), video.rect());

        video.orgSkin();
        QCOMPARE(video.WindowState(), 0);
        QTRY_VERIFY(engine().surface()->geometry() == QRect(20, 50, video.width() - 40, video.height() - 70));
        QVERIFY(video.Picture3->isVisible());
        QCOMPARE(video.ds->pos(), QPoint(20, 50));
    }

    void timeNotificationWritesTheCaptions()
    {
        engine().totalTitleTime = QStringLiteral("01:45:33:00");
        engine().currentChapter = 3;
        engine().chaptersInTitle = {{1, 12}};
        engine().currentTitle = 1;
        engine().titlesAvailable = 2;
        const TimeCode now{0, 12, 7, 18};
        emit engine().DVDNotify(282, now.packed(), 0);
        QCOMPARE(form4().lTime->text(), QStringLiteral("时间: 00:12:07:18 /01:45:33:00"));
        QCOMPARE(form4().Chapter->text(), QStringLiteral("章节: 3/12"));
        QCOMPARE(form4().title->text(), QStringLiteral("标题: 1/2"));
        QCOMPARE(engine().calls, QStringList({
            QStringLiteral("TimeCodeToText(%1)").arg(now.packed()),
            QStringLiteral("TotalTitleTime"),
            QStringLiteral("CurrentChapter"),
            QStringLiteral("CurrentTitle"),
            QStringLiteral("ChaptersInTitle(1)"),
            QStringLiteral("CurrentTitle"),
            QStringLiteral("TitlesAvailable"),
        }));
        // The caption moved the seek bar: 727 s of 6333 s.
        QCOMPARE(int(TitleSeconds), 6333);
        QCOMPARE(form6().Seek->Value(), 11);
    }

    void firstFailingCallEndsTheUpdate_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("captionsWritten");
        QTest::newRow("TimeCodeToText") << "TimeCodeToText" << 0;
        QTest::newRow("TotalTitleTime") << "TotalTitleTime" << 0;
        QTest::newRow("CurrentChapter") << "CurrentChapter" << 1;
        QTest::newRow("ChaptersInTitle") << "ChaptersInTitle" << 1;
        QTest::newRow("CurrentTitle") << "CurrentTitle" << 1;
        QTest::newRow("TitlesAvailable") << "TitlesAvailable" << 2;
        QTest::newRow("nothing fails") << "" << 3;
    }
    void firstFailingCallEndsTheUpdate()
    {
        QFETCH(QString, failing);
        QFETCH(int, captionsWritten);
        setCaptions(QStringLiteral("old time"), QStringLiteral("old chapter"), QStringLiteral("old title"));
        engine().totalTitleTime = QStringLiteral("00:40:00:00");
        engine().currentChapter = 2;
        engine().chaptersInTitle = {{1, 4}};
        if (!failing.isEmpty())
            engine().failures.insert(failing, 1);
        emit engine().DVDNotify(282, TimeCode{0, 0, 5, 0}.packed(), 0);
        const Captions now = captions();
        QCOMPARE(now.time == QStringLiteral("old time"), captionsWritten < 1);
        QCOMPARE(now.chapter == QStringLiteral("old chapter"), captionsWritten < 2);
        QCOMPARE(now.title == QStringLiteral("old title"), captionsWritten < 3);
        if (captionsWritten >= 1)
            QCOMPARE(now.time, QStringLiteral("时间: 00:00:05:00 /00:40:00:00"));
        if (captionsWritten >= 2)
            QCOMPARE(now.chapter, QStringLiteral("章节: 2/4"));
    }

    void otherNotificationsChangeNothing()
    {
        setCaptions(QStringLiteral("t"), QStringLiteral("c"), QStringLiteral("n"));
        for (int code : {258, 259, 274, 281, 283})
            emit engine().DVDNotify(code, 12345, 6);
        QCOMPARE(engine().calls, QStringList());
        QCOMPARE(form4().lTime->text(), QStringLiteral("t"));
    }

    void titleInformationRunsEveryStep()
    {
        form4().lTime->QLabel::setText(QStringLiteral("时间: 00:00:01:00 /00:02:00:00"));
        engine().failures.insert(QStringLiteral("*"), 1);
        TitleSeconds = 9;
        emit engine().TitleInfoChanged(0);
        QCOMPARE(int(TitleSeconds), 120);
        QVERIFY(engine().calls.contains(QStringLiteral("setShowSubtitles(true)")));
        QVERIFY(engine().calls.contains(QStringLiteral("SubpictureStreamCount")));
        QVERIFY(engine().calls.contains(QStringLiteral("AudioStreamCount")));
    }

    void resetPutsTheCaptionBack()
    {
        form6().Seek->setValue(60);
        emit engine().PlaybackReset(0);
        QCOMPARE(form4().lTime->text(), Form4::InitialTime);
        // The reset caption runs the time routine: 0 s of an unknown length.
        QCOMPARE(form6().Seek->Value(), 0);
        QCOMPARE(int(TitleSeconds), 1);
        QVERIFY(m_fixture.messages.isEmpty());
    }

    void unreadableLengthNeverRaisesAMessage()
    {
        form6().Seek->setValue(30);
        engine().totalTitleTime = QStringLiteral("--:--:--:--");
        for (int second = 0; second < 5; ++second)
            emit engine().DVDNotify(282, TimeCode{0, 10, second, 0}.packed(), 0);
        QCOMPARE(form6().Seek->Value(), 30);
        QVERIFY(m_fixture.messages.isEmpty());
    }

    void rebuiltWindowGetsAFreshEngineAndTheSavedFolder()
    {
        QPointer<ScriptedEngine> old = m_fixture.engine;
#ifdef VELMORA_HAVE_SERVICES_SETTINGS
        SaveSetting(QStringLiteral("DEV Udovezo"), QStringLiteral("Settings"), QStringLiteral("DVDDirectory"),
                    QStringLiteral("/media/films/A"));
#endif
        TitleSeconds = 500;
        unloadForm4();
        QVERIFY(!form4Loaded());
        Form4 &video = form4();
        QVERIFY(m_fixture.engine && m_fixture.engine != old);
        QCOMPARE(video.DVD, static_cast<DvdEngine *>(m_fixture.engine.data()));
        QCOMPARE(int(TitleSeconds), 1);
#ifdef VELMORA_HAVE_SERVICES_SETTINGS
        QCOMPARE(video.DVD->DVDDirectory(), QStringLiteral("/media/films/A"));
#endif
        // The old engine no longer reaches the captions.
        if (old) {
            emit old->DVDNotify(282, TimeCode{0, 0, 9, 0}.packed(), 0);
            QCOMPARE(video.lTime->text(), Form4::InitialTime);
        }
        QTRY_VERIFY(!old);
    }

    void emptySavedFolderLeavesTheEngineAlone()
    {
#ifdef VELMORA_HAVE_SERVICES_SETTINGS
        SaveSetting(QStringLiteral("DEV Udovezo"), QStringLiteral("Settings"), QStringLiteral("DVDDirectory"), QString());
#endif
        unloadForm4();
        form4();
        QVERIFY(!m_fixture.engine->calls.join(u' ').contains(QStringLiteral("setDVDDirectory")));
    }
};

QTEST_MAIN(TestForm4)
#include "test_form4.moc"
