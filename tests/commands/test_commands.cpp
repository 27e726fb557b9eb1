// The playback commands against the scripted engine: the engine calls each
// makes and their order, what it reports, the play/pause markers, opening a
// folder and the command line.

#include "Fixture.h"

#include "engine/EngineError.h"
#include "services/FolderChooser.h"
#include "services/RegStore.h"
#include "widgets/ProgressBar.h"
#include "widgets/VDrive.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

using namespace velmora;
using namespace velmora::testing;

class TestCommands : public QObject, private CommandFixture
{
    Q_OBJECT

private slots:
    void init() { reset(); }

    void calls_data();
    void calls();
    void playDiscResetsDisplayState();
    void replayRecordedFolder();
    void reportBox_data();
    void reportBox();
    void toggles_data();
    void toggles();
    void minimise();
    void openFolder_data();
    void openFolder();
    void commandLine();
};

namespace {

// Runs a command by its control's name; menu items by their action.
void runCommand(const QString &name)
{
    static const QHash<QString, void (*)()> handlers{
        {"Playi", Playi_Click}, {"Form4.Play", Form4_Play_Click}, {"PlayT", PlayT_Click},
        {"Stopi", Stopi_Click}, {"Pausei", Pausei_Click}, {"Nexti", Nexti_Click},
        {"Previ", Previ_Click}, {"FFi", FFi_Click}, {"FBi", FBi_Click}, {"Ejecti", Ejecti_Click},
    };
    if (auto handler = handlers.value(name))
        handler();
    else
        res().findChild<QAction *>(name)->trigger();
}

} // namespace

void TestCommands::calls_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("failing"); // operation the engine refuses
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<Messages>("boxes");

    const QStringList playDisc{"Stop", "Render(1)", "Render(0)", "Play"};
    const QString noDecoder = QStringLiteral("请安装解码器程序!");
    const QString noInterface = QStringLiteral("无法创建界面!");
    // Saved folders in these rows: "/panel" under the panel's application
    // name, "/menu" under the menu Stop's.
    QTest::newRow("play disc") << "PlayDVD" << "" << 0 << playDisc << Messages{};
    QTest::newRow("play disc, Render refused") << "PlayDVD" << "Render" << int(ErrorCode::NoDecoder) << playDisc << Messages{};
    QTest::newRow("play disc, no decoder") << "PlayDVD" << "Play" << int(ErrorCode::NoDecoder) << playDisc
                                           << Messages{{noDecoder, "Halvex 2007"}};
    QTest::newRow("play disc, no interface") << "PlayDVD" << "Play" << int(ErrorCode::NoInterface) << playDisc
                                             << Messages{{noInterface, "Halvex 2007"}};
    QTest::newRow("play disc, other code") << "PlayDVD" << "Play" << int(ErrorCode::NoDisc) << playDisc << Messages{};
    const QStringList play{"setDVDDirectory(/panel)", "Play"};
    QTest::newRow("Playi") << "Playi" << "" << 0 << play << Messages{};
    QTest::newRow("Playi, no decoder") << "Playi" << "Play" << int(ErrorCode::NoDecoder) << play
                                       << Messages{{noDecoder, "Error"}};
    QTest::newRow("Playi, folder refused") << "Playi" << "setDVDDirectory" << int(ErrorCode::NoInterface) << play
                                           << Messages{{noInterface, "Error"}};
    QTest::newRow("video Play, no interface") << "Form4.Play" << "Play" << int(ErrorCode::NoInterface) << play
                                              << Messages{{noInterface, "错误"}};
    QTest::newRow("PlayT, no decoder") << "PlayT" << "Play" << int(ErrorCode::NoDecoder)
                                       << QStringList{"setDVDDirectory", "Play", "Play"} << Messages{{noDecoder, ""}};
    QTest::newRow("Stopi") << "Stopi" << "" << 0 << QStringList{"Stop", "Render(1)", "setDVDDirectory(/panel)"} << Messages{};
    QTest::newRow("Stopi, Stop refused") << "Stopi" << "Stop" << int(ErrorCode::NoDisc)
                                         << QStringList{"Stop", "Render(1)", "setDVDDirectory(/panel)"} << Messages{};
    QTest::newRow("mnuStop") << "mnuStop" << "" << 0 << QStringList{"Stop", "Render(1)", "setDVDDirectory(/menu)"} << Messages{};

    const char *speeds[] = {"0.5", "1", "2", "4", "8", "16", "32"};
    const char *items[] = {"5", "1", "2", "4", "8", "16", "32"};
    for (int i = 0; i < 7; ++i) {
        QTest::addRow("mnu%s", items[i]) << QStringLiteral("mnu%1").arg(items[i]) << "" << 0
                                         << QStringList{QStringLiteral("PlayForwards(%1)").arg(speeds[i])} << Messages{};
        QTest::addRow("mnu%sb", items[i]) << QStringLiteral("mnu%1b").arg(items[i]) << "" << 0
                                          << QStringList{QStringLiteral("PlayBackwards(%1)").arg(speeds[i])} << Messages{};
    }
    const QList<QPair<const char *, const char *>> single{
        {"FFi", "PlayForwards(32)"}, {"FBi", "PlayBackwards(32)"}, {"Nexti", "PlayNextChapter"},
        {"mnuNext", "PlayNextChapter"}, {"Previ", "PlayPrevChapter"}, {"mnuPrev", "PlayPrevChapter"},
        {"Pausei", "Pause"}, {"mnuPause", "Pause"}, {"Ejecti", "Eject"}, {"mnuTilte", "ShowMenu(2)"},
        {"mnuRoot", "ShowMenu(3)"}, {"mnuChapter", "ShowMenu(7)"}, {"Mnusub", "ShowMenu(4)"}};
    for (const auto &[command, call] : single)
        QTest::newRow(command) << command << "" << 0 << QStringList{call} << Messages{};
    // Refusals of the transport commands show nothing.
    QTest::newRow("Nexti at the last chapter") << "Nexti" << "PlayNextChapter" << int(ErrorCode::ChapterOutOfRange)
                                               << QStringList{"PlayNextChapter"} << Messages{};
    QTest::newRow("Ejecti without a drive") << "Ejecti" << "Eject" << int(ErrorCode::NoInterface)
                                            << QStringList{"Eject"} << Messages{};
}

void TestCommands::calls()
{
    QFETCH(QString, command);
    QFETCH(QString, failing);
    QFETCH(int, code);
    QFETCH(QStringList, expected);
    QFETCH(Messages, boxes);

    saveFolder(DvdSettingsApp, QStringLiteral("/panel"));
    saveFolder(DvdSettingsAppMenuStop, QStringLiteral("/menu"));
    RegStore().DelKey(QStringLiteral("DVD"));
    unloadDvdDirectoryForm();
    if (!failing.isEmpty())
        engine().failures = {{failing, code}};
    runCommand(command);
    QCOMPARE(CommandFixture::calls(), expected);
    QCOMPARE(messages, boxes);
}

void TestCommands::playDiscResetsDisplayState()
{
    saveFolder(DvdSettingsApp, QStringLiteral("/media/old"));
    TitleSeconds = 500;
    form6().Seek->setValue(40);
    engine().failures = {{"Play", ErrorCode::NoDecoder}};
    res().PlayDVD->trigger();
    QCOMPARE(GetSetting(DvdSettingsApp, DvdSettingsSection, DvdDirectoryKey, QStringLiteral("?")), QString());
    QCOMPARE(TitleSeconds, qint16(1));
    QCOMPARE(form6().Seek->Value(), 1);
    QCOMPARE(Tag(form4().Pause), QStringLiteral("0")); // set before Play runs

    // Play and Stop leave the engine's folder alone when nothing is saved.
    engine().calls.clear();
    Playi_Click();
    Stopi_Click();
    QCOMPARE(CommandFixture::calls(), QStringList({"Play", "Stop", "Render(1)"}));
}

void TestCommands::replayRecordedFolder()
{
    RegStore().WriteKey(QStringLiteral("DVD"), QStringLiteral("/srv/电影/VIDEO_TS"));
    PlayT_Click();
    QCOMPARE(CommandFixture::calls(), QStringList({"setDVDDirectory(/srv/电影/VIDEO_TS)", "Play", "Play"}));
    QCOMPARE(dvdDirectoryForm().dir->text(), QStringLiteral("/srv/电影/VIDEO_TS"));
    QVERIFY(!dvdDirectoryForm().isVisible());
    QCOMPARE(Tag(form4().Pause), QString());
}

void TestCommands::reportBox_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("own title") << "Halvex 2007";
    QTest::newRow("default title") << "";
}

void TestCommands::reportBox()
{
    // The real box: modal, critical icon, one OK button, the command's title
    // or the application's.
    QFETCH(QString, title);
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    setMessageBoxFunction(nullptr);
    QString seen;
    whileOpen([&] { showCriticalMessage(QStringLiteral("无法创建界面!"), title); },
              [&](QWidget *w) {
                  auto *box = qobject_cast<QMessageBox *>(w);
                  QVERIFY(box);
                  QCOMPARE(box->icon(), QMessageBox::Critical);
                  QCOMPARE(box->standardButtons(), QMessageBox::Ok);
                  seen = box->windowTitle() + u'|' + box->text();
                  box->accept();
              });
    setMessageBoxFunction([this](const QString &text, const QString &t) { messages.append({text, t}); });
    QCOMPARE(seen, (title.isEmpty() ? QStringLiteral("Velmora") : title) + QStringLiteral("|无法创建界面!"));
}

void TestCommands::toggles_data()
{
    QTest::addColumn<bool>("video");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("after");
    for (bool video : {true, false}) {
        const char *w = video ? "video" : "panel";
        QTest::addRow("%s, empty", w) << video << "" << "" << QStringList() << "";
        QTest::addRow("%s, not a number", w) << video << "x" << "" << QStringList() << "x";
        QTest::addRow("%s, 0", w) << video << "0" << "" << QStringList{"Pause"} << "1";
        QTest::addRow("%s, 1", w) << video << "1" << "" << QStringList{"Play"} << "0";
        QTest::addRow("%s, 2", w) << video << "2" << "" << QStringList{"Pause"} << "1";
        QTest::addRow("%s, Pause refused", w) << video << "0" << "Pause" << QStringList{"Pause"} << "0";
    }
}

void TestCommands::toggles()
{
    QFETCH(bool, video);
    QFETCH(QString, marker);
    QFETCH(QString, refused);
    QFETCH(QStringList, expected);
    QFETCH(QString, after);

    QPushButton *button = video ? form4().Pause : form6().Pause;
    QPushButton *other = video ? form6().Pause : form4().Pause;
    setTag(button, marker);
    setTag(other, QStringLiteral("other"));
    if (!refused.isEmpty())
        engine().failures = {{refused, ErrorCode::NotAllowed}};
    video ? Form4_Pause_Click() : Pause_Click();
    QCOMPARE(CommandFixture::calls(), expected);
    QCOMPARE(Tag(button), after);
    QCOMPARE(Tag(other), QStringLiteral("other"));
    QVERIFY(messages.isEmpty());
}

void TestCommands::minimise()
{
    for (auto command : {Picture1_Click, Form4_Picture1_Click}) {
        form6().showNormal();
        form4().show();
        command();
        QVERIFY(form4().isHidden());
        QVERIFY(form6().windowState() & Qt::WindowMinimized);
    }
    form6().showNormal();
}

void TestCommands::openFolder_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::addColumn<bool>("choose");
    QTest::newRow("Op, cancelled") << false << false;
    QTest::newRow("mnuOpen, cancelled") << true << false;
    QTest::newRow("Op, chosen") << false << true;
}

void TestCommands::openFolder()
{
    QFETCH(bool, fromMenu);
    QFETCH(bool, choose);
    unloadDvdDirectoryForm();
    SelectedFolder = QStringLiteral("/earlier");
    QTemporaryDir disc;
    const QString path = QDir(disc.path()).absolutePath();
    QVERIFY(QDir().mkpath(path + QStringLiteral("/VIDEO_TS")));
    QFile ifo(path + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO"));
    QVERIFY(ifo.open(QIODevice::WriteOnly));
    ifo.close();
    QString prompt;
    QString start;
    whileOpen([&] { fromMenu ? res().mnuOpen->trigger() : Op_Click(); },
              [&](QWidget *w) {
                  auto *dialog = qobject_cast<QFileDialog *>(w);
                  QVERIFY(dialog);
                  prompt = promptOf(dialog);
                  start = dialog->directory().absolutePath();
                  if (!choose) {
                      static_cast<QDialog *>(dialog)->reject();
                      return;
                  }
                  dialog->setDirectory(path);
                  if (QWidget *focus = dialog->focusWidget())
                      focus->clearFocus();
                  dialog->selectFile(path);
                  static_cast<QDialog *>(dialog)->accept();
              });
    QCOMPARE(prompt, fromMenu ? OpenPromptChinese : OpenPromptEnglish);
    QCOMPARE(start, QStringLiteral("/")); // "\" when no folder is saved
    QCOMPARE(SelectedFolder, choose ? path : QString());
    QCOMPARE(dvdDirectoryFormLoaded() && dvdDirectoryForm().isVisible(), choose);
    if (choose) {
        QCOMPARE(dvdDirectoryForm().dir->text(), path);
        QCOMPARE(dvdDirectoryForm().dir->selectedText(), path);
    }
    QCOMPARE(CommandFixture::calls(), QStringList()); // playing is up to the chooser
    unloadDvdDirectoryForm();
}

void TestCommands::commandLine()
{
    for (const auto &[args, status] : QList<QPair<QStringList, int>>{
             {{"--help"}, 0}, {{"--version"}, 0}, {{"--frobnicate"}, 2}, {{"/a", "/b"}, 2}}) {
        const std::optional<int> answer = handleCommandLine(args);
        QVERIFY(answer.has_value());
        QCOMPARE(*answer, status);
    }
    QVERIFY(!handleCommandLine({}).has_value());
    QCoreApplication::processEvents();
    QCOMPARE(CommandFixture::calls(), QStringList());

    // A path plays as if confirmed in the chooser, which rebuilds the video window.
    setVideoWindowRebuilder([] {
        unloadForm4();
        return form4().DVD;
    });
    QTemporaryDir disc;
    const QString path = QDir(disc.path()).absolutePath();
    QVERIFY(QDir().mkpath(path + QStringLiteral("/VIDEO_TS")));
    QFile ifo(path + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO"));
    QVERIFY(ifo.open(QIODevice::WriteOnly));
    ifo.close();
    QVERIFY(!handleCommandLine({path}).has_value());
    QTRY_VERIFY(engine().calls.contains(QStringLiteral("Play")));
    QCOMPARE(CommandFixture::calls(), QStringList({"setDVDDirectory(" + path + ")", "Play"}));
    QCOMPARE(RegStore().LoadKey(QStringLiteral("DVD"), QString()), path);
    setVideoWindowRebuilder(nullptr);
}

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
