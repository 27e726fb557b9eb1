// The playback commands against the scripted engine: which engine calls each
// command makes and in what order, what it reports, and the markers.

#include "Fixture.h"

#include "engine/EngineError.h"
#include "services/FolderChooser.h"
#include "services/RegStore.h"
#include "widgets/ProgressBar.h"
#include "widgets/VDrive.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace velmora;
using namespace velmora::testing;

class TestCommands : public QObject, private CommandFixture
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void playDiscRebuildsAndPlays();
    void playDiscReportsOnlyTheFinalPlay();
    void playReports_data();
    void playReports();
    void playUsesSavedFolderOnlyWhenSet();
    void replayRecordedFolder();
    void toggles_data();
    void toggles();
    void toggleLeavesMarkerOnRefusal();
    void stopReadsItsOwnApplicationName();
    void speeds_data();
    void speeds();
    void transportButtons_data();
    void transportButtons();
    void refusalsShowNothing();
    void minimise();
    void openFolderCancelled_data();
    void openFolderCancelled();
    void openFolderShowsChooser();
    void commandLineAnswers_data();
    void commandLineAnswers();
    void commandLinePlaysPath();
};

void TestCommands::playDiscRebuildsAndPlays()
{
    SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("/media/old"));
    TitleSeconds = 500;
    form6().Seek->setValue(40);

    res().PlayDVD->trigger();

    QCOMPARE(calls(), QStringList({"Stop", "Render(1)", "Render(0)", "Play"}));
    QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("?")), QString());
    QCOMPARE(TitleSeconds, qint16(1));
    QCOMPARE(form6().Seek->Value(), 1);
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0"));
    QVERIFY(messages.isEmpty());
}

void TestCommands::playDiscReportsOnlyTheFinalPlay()
{
    // Earlier failures are forgotten when the trap is re-armed before Play.
    engine().failures = {{"Render", ErrorCode::NoDecoder}, {"Stop", ErrorCode::NoInterface}};
    PlayDisc();
    QCOMPARE(calls(), QStringList({"Stop", "Render(1)", "Render(0)", "Play"}));
    QVERIFY(messages.isEmpty());

    engine().failures = {{"Play", ErrorCode::NoDecoder}};
    PlayDisc();
    QCOMPARE(messages, (QList<QPair<QString, QString>>{{"请安装解码器程序!", "Halvex 2007"}}));
    // The marker is set before Play runs.
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0"));
}

void TestCommands::playReports_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");

    const std::int32_t otherCode = ErrorCode::NoDisc;
    struct Command { const char *name; const char *title; };
    const Command commands[] = {{"PlayDVD", "Halvex 2007"}, {"Playi", "Error"}, {"Form4.Play", "错误"}, {"PlayT", ""}};
    for (const Command &c : commands) {
        QTest::addRow("%s no decoder", c.name) << c.name << "Play" << int(ErrorCode::NoDecoder)
                                               << "请安装解码器程序!" << c.title;
        QTest::addRow("%s no interface", c.name) << c.name << "Play" << int(ErrorCode::NoInterface)
                                                 << "无法创建界面!" << c.title;
        QTest::addRow("%s other code", c.name) << c.name << "Play" << int(otherCode) << "" << "";
    }
    // Replay reports a failure of its folder step too: the code is kept
    // through the later successes.
    QTest::addRow("PlayT folder refused") << "PlayT" << "setDVDDirectory" << int(ErrorCode::NoInterface)
                                          << "无法创建界面!" << "";
    QTest::addRow("Playi folder refused") << "Playi" << "setDVDDirectory" << int(ErrorCode::NoDecoder)
                                          << "请安装解码器程序!" << "Error";
}

void TestCommands::playReports()
{
    QFETCH(QString, command);
    QFETCH(QString, failing);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, title);

    SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("/media/dvd"));
    engine().failures = {{failing, code}};
    if (command == "PlayDVD")
        res().PlayDVD->trigger();
    else if (command == "Playi")
        Playi_Click();
    else if (command == "Form4.Play")
        Form4_Play_Click();
    else
        PlayT_Click();

    if (text.isEmpty())
        QVERIFY(messages.isEmpty());
    else
        QCOMPARE(messages, (QList<QPair<QString, QString>>{{text, title}}));
}

void TestCommands::playUsesSavedFolderOnlyWhenSet()
{
    Playi_Click();
    QCOMPARE(calls(), QStringList({"Play"}));
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0"));

    engine().calls.clear();
    SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("/media/dvd"));
    Form4_Play_Click();
    QCOMPARE(calls(), QStringList({"setDVDDirectory(/media/dvd)", "Play"}));
}

void TestCommands::replayRecordedFolder()
{
    // Nothing recorded: the chooser's own (empty) text, then Play twice.
    RegStore().DelKey(QStringLiteral("DVD"));
    unloadDvdDirectoryForm();
    PlayT_Click();
    QCOMPARE(calls(), QStringList({"setDVDDirectory", "Play", "Play"}));
    QVERIFY(!dvdDirectoryForm().isVisible());

    engine().calls.clear();
    RegStore().WriteKey(QStringLiteral("DVD"), QStringLiteral("/srv/电影/VIDEO_TS"));
    PlayT_Click();
    QCOMPARE(calls(), QStringList({"setDVDDirectory(/srv/电影/VIDEO_TS)", "Play", "Play"}));
    QCOMPARE(dvdDirectoryForm().dir->text(), QStringLiteral("/srv/电影/VIDEO_TS"));
    QCOMPARE(Tag(form4().Pause), QString()); // Replay leaves the marker alone
}

void TestCommands::toggles_data()
{
    QTest::addColumn<bool>("videoWindow");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("after");

    for (bool video : {true, false}) {
        const char *w = video ? "video" : "panel";
        QTest::addRow("%s empty", w) << video << "" << QStringList() << "";
        QTest::addRow("%s not a number", w) << video << "x" << QStringList() << "x";
        QTest::addRow("%s playing", w) << video << "0" << QStringList{"Pause"} << "1";
        QTest::addRow("%s paused", w) << video << "1" << QStringList{"Play"} << "0";
        QTest::addRow("%s two", w) << video << "2" << QStringList{"Pause"} << "1";
    }
}

void TestCommands::toggles()
{
    QFETCH(bool, videoWindow);
    QFETCH(QString, marker);
    QFETCH(QStringList, expected);
    QFETCH(QString, after);

    QPushButton *button = videoWindow ? form4().Pause : form6().Pause;
    QPushButton *other = videoWindow ? form6().Pause : form4().Pause;
    setTag(button, marker);
    setTag(other, QStringLiteral("other"));
    videoWindow ? Form4_Pause_Click() : Pause_Click();
    QCOMPARE(calls(), expected);
    QCOMPARE(Tag(button), after);
    QCOMPARE(Tag(other), QStringLiteral("other"));
}

void TestCommands::toggleLeavesMarkerOnRefusal()
{
    // After Play the video window's toggle pauses, then resumes.
    Playi_Click();
    Form4_Pause_Click();
    QCOMPARE(Tag(form4().Pause), QStringLiteral("1"));
    Form4_Pause_Click();
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0"));
    QCOMPARE(calls(), QStringList({"Play", "Pause", "Play"}));

    engine().failures = {{"Pause", ErrorCode::NotAllowed}};
    Form4_Pause_Click();
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0"));
    QVERIFY(messages.isEmpty());
}

void TestCommands::stopReadsItsOwnApplicationName()
{
    SaveSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("/panel"));
    TitleSeconds = 300;
    form6().Seek->setValue(50);
    setTag(form4().Pause, QStringLiteral("0"));

    Stopi_Click();
    QCOMPARE(calls(), QStringList({"Stop", "Render(1)", "setDVDDirectory(/panel)"}));
    QCOMPARE(TitleSeconds, qint16(1));
    QCOMPARE(form6().Seek->Value(), 1);
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0"));

    // The menu's Stop reads under the other name, where nothing is stored.
    engine().calls.clear();
    res().mnuStop->trigger();
    QCOMPARE(calls(), QStringList({"Stop", "Render(1)"}));

    engine().calls.clear();
    SaveSetting(DvdSettingsAppMenuStop, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("/menu"));
    res().mnuStop->trigger();
    QCOMPARE(calls(), QStringList({"Stop", "Render(1)", "setDVDDirectory(/menu)"}));

    // A refused Stop does not keep the rest from running.
    engine().calls.clear();
    engine().failures = {{"Stop", ErrorCode::NoDisc}, {"Render", ErrorCode::NoDisc}};
    form6().Seek->setValue(70);
    Stopi_Click();
    QCOMPARE(calls(), QStringList({"Stop", "Render(1)", "setDVDDirectory(/panel)"}));
    QCOMPARE(form6().Seek->Value(), 1);
}

void TestCommands::speeds_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("call");
    const QStringList speeds{"0.5", "1", "2", "4", "8", "16", "32"};
    const QStringList names{"5", "1", "2", "4", "8", "16", "32"};
    for (int i = 0; i < speeds.size(); ++i) {
        QTest::addRow("mnu%s", qPrintable(names[i]))
            << "mnu" + names[i] << "PlayForwards(" + speeds[i] + ")";
        QTest::addRow("mnu%sb", qPrintable(names[i]))
            << "mnu" + names[i] + "b" << "PlayBackwards(" + speeds[i] + ")";
    }
}

void TestCommands::speeds()
{
    QFETCH(QString, item);
    QFETCH(QString, call);
    auto *action = res().findChild<QAction *>(item);
    QVERIFY(action);
    action->trigger();
    QCOMPARE(calls(), QStringList{call});
}

void TestCommands::transportButtons_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("FFi") << 0 << QStringList{"PlayForwards(32)"};
    QTest::newRow("FBi") << 1 << QStringList{"PlayBackwards(32)"};
    QTest::newRow("Nexti") << 2 << QStringList{"PlayNextChapter"};
    QTest::newRow("Previ") << 3 << QStringList{"PlayPrevChapter"};
    QTest::newRow("Pausei") << 4 << QStringList{"Pause"};
    QTest::newRow("Ejecti") << 5 << QStringList{"Eject"};
    QTest::newRow("mnuNext") << 6 << QStringList{"PlayNextChapter"};
    QTest::newRow("mnuPrev") << 7 << QStringList{"PlayPrevChapter"};
    QTest::newRow("mnuPause") << 8 << QStringList{"Pause"};
    QTest::newRow("mnuTilte") << 9 << QStringList{"ShowMenu(2)"};
    QTest::newRow("mnuRoot") << 10 << QStringList{"ShowMenu(3)"};
    QTest::newRow("mnuChapter") << 11 << QStringList{"ShowMenu(7)"};
    QTest::newRow("Mnusub") << 12 << QStringList{"ShowMenu(4)"};
}

void TestCommands::transportButtons()
{
    QFETCH(int, which);
    QFETCH(QStringList, expected);
    const std::function<void()> commands[] = {
        FFi_Click, FBi_Click, Nexti_Click, Previ_Click, Pausei_Click, Ejecti_Click,
        [] { res().mnuNext->trigger(); }, [] { res().mnuPrev->trigger(); },
        [] { res().mnuPause->trigger(); }, [] { res().mnuTilte->trigger(); },
        [] { res().mnuRoot->trigger(); }, [] { res().mnuChapter->trigger(); },
        [] { res().Mnusub->trigger(); },
    };
    commands[which]();
    QCOMPARE(calls(), expected);
}

void TestCommands::refusalsShowNothing()
{
    engine().failures = {{"*", ErrorCode::NotAllowed}};
    for (auto command : {FFi_Click, FBi_Click, Nexti_Click, Previ_Click, Pausei_Click, Ejecti_Click, Stopi_Click})
        command();
    res().mnuChapter->trigger();
    QVERIFY(messages.isEmpty());
    QCOMPARE(calls().size(), 9); // Stop also tried Render(1)
}

void TestCommands::minimise()
{
    form6().show();
    form4().show();
    Picture1_Click();
    QVERIFY(form4().isHidden());
    QVERIFY(form6().windowState() & Qt::WindowMinimized);

    form6().showNormal();
    form4().show();
    Form4_Picture1_Click();
    QVERIFY(form4().isHidden());
    QVERIFY(form6().windowState() & Qt::WindowMinimized);
    form6().showNormal();
}

void TestCommands::openFolderCancelled_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("Op") << false;
    QTest::newRow("mnuOpen") << true;
}

void TestCommands::openFolderCancelled()
{
    QFETCH(bool, fromMenu);
    unloadDvdDirectoryForm();
    SelectedFolder = QStringLiteral("/earlier");
    QString prompt;
    QString start;
    whileClosing([&] { fromMenu ? res().mnuOpen->trigger() : Op_Click(); },
                 [&](QWidget *w) {
                     auto *dialog = qobject_cast<QFileDialog *>(w);
                     QVERIFY(dialog);
                     for (QLabel *label : dialog->findChildren<QLabel *>()) {
                         if (label->text().contains(QStringLiteral("*.VOB, *.IFO")))
                             prompt = label->text();
                     }
                     start = dialog->directory().absolutePath();
                     static_cast<QDialog *>(dialog)->reject();
                 });
    QCOMPARE(SelectedFolder, QString());
    QVERIFY(!dvdDirectoryFormLoaded() || !dvdDirectoryForm().isVisible());
    QCOMPARE(prompt, fromMenu ? OpenPromptChinese : OpenPromptEnglish);
    QCOMPARE(start, QStringLiteral("/")); // "\" when nothing is saved
    QCOMPARE(calls(), QStringList());
}

void TestCommands::openFolderShowsChooser()
{
    QTemporaryDir disc;
    const QString path = QDir(disc.path()).absolutePath();
    whileClosing([] { Op_Click(); },
                 [&](QWidget *w) {
                     auto *dialog = qobject_cast<QFileDialog *>(w);
                     QVERIFY(dialog);
                     dialog->setDirectory(path);
                     if (QWidget *focus = dialog->focusWidget())
                         focus->clearFocus();
                     dialog->selectFile(path);
                     static_cast<QDialog *>(dialog)->accept();
                 });
    QCOMPARE(SelectedFolder, path);
    QVERIFY(dvdDirectoryForm().isVisible());
    QCOMPARE(dvdDirectoryForm().dir->text(), path);
    QCOMPARE(dvdDirectoryForm().dir->selectedText(), path);
    QVERIFY(calls().isEmpty()); // playing is up to the chooser
    unloadDvdDirectoryForm();
}

void TestCommands::commandLineAnswers_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("version") << QStringList{"--version"} << 0;
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2;
    QTest::newRow("two paths") << QStringList{"/a", "/b"} << 2;
}

void TestCommands::commandLineAnswers()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    const std::optional<int> answer = handleCommandLine(args);
    QVERIFY(answer.has_value());
    QCOMPARE(*answer, status);
    QCoreApplication::processEvents();
    QVERIFY(calls().isEmpty());
    QVERIFY(!handleCommandLine({}).has_value());
}

void TestCommands::commandLinePlaysPath()
{
    // As the shell does: confirming in the chooser rebuilds the video window.
    setVideoWindowRebuilder([] {
        unloadForm4();
        return form4().DVD;
    });
    QTemporaryDir disc;
    QVERIFY(QDir(disc.path()).mkdir(QStringLiteral("VIDEO_TS")));
    const QString path = QDir(disc.path()).filePath(QStringLiteral("VIDEO_TS"));
    QVERIFY(!handleCommandLine({path}).has_value());
    QVERIFY(calls().isEmpty()); // not before the event loop runs
    QTRY_VERIFY(calls().contains(QStringLiteral("Play")));
    QCOMPARE(calls(), QStringList({"setDVDDirectory(" + path + ")", "Play"}));
    QCOMPARE(RegStore().LoadKey(QStringLiteral("DVD"), QString()), path);
    setVideoWindowRebuilder(nullptr);
}

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
