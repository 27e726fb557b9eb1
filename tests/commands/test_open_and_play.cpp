// Opening a path from outside the player: addresses of the command line and
// file managers, what counts as a DVD, and drops on the real windows.

#include "Fixture.h"

#include "commands/OpenAndPlay.h"
#include "services/FolderChooser.h"
#include "services/RegStore.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPointer>
#include <QUrl>

using namespace velmora;
using namespace velmora::testing;
#define S QStringLiteral

class TestOpenAndPlay : public QObject, private CommandFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { reset(); }
    void cleanup() { setVideoWindowRebuilder(nullptr); }

    void addresses_data();
    void addresses();
    void sources_data();
    void sources();
    void drops_data();
    void drops();
    void commandLine();

private:
    QString file(const QString &relative, const QByteArray &bytes = QByteArray())
    {
        const QString path = m_tree.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return path;
    }
    QString disc() const { return m_tree.filePath(S("Film")); }

    QTemporaryDir m_tree;
};

namespace {

// A file with an ISO 9660 volume descriptor at sector 16.
QByteArray isoImage()
{
    QByteArray bytes(40000, '\0');
    bytes.replace(16 * 2048, 6, QByteArray("\x01" "CD001", 6));
    return bytes;
}

} // namespace

void TestOpenAndPlay::initTestCase()
{
    QVERIFY(m_tree.isValid());
    file(S("Film/VIDEO_TS/VIDEO_TS.IFO"), "DVDVIDEO-VMG");
    file(S("Film/VIDEO_TS/VTS_01_1.VOB"), "x");
    file(S("lower/video_ts/video_ts.ifo"), "DVDVIDEO-VMG");
    file(S("loose/VTS_01_0.IFO"), "DVDVIDEO-VTS");
    file(S("My Disc.img"), isoImage());
    file(S("fake.iso"), "not an image at all");
    QDir().mkpath(m_tree.filePath(S("empty")));
}

void TestOpenAndPlay::addresses_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("path");   // what it names
    QTest::addColumn<bool>("refused");

    QTest::newRow("device address") << S("dvd:///dev/sr0") << S("/dev/sr0") << false;
    QTest::newRow("device address, one slash") << S("dvd:/dev/sr1") << S("/dev/sr1") << false;
    QTest::newRow("the drive") << S("dvd://") << S("") << false;
    QTest::newRow("file address with spaces") << S("file:///films/My%20Disc/VIDEO_TS") << S("/films/My Disc/VIDEO_TS") << false;
    QTest::newRow("file address, localhost") << S("file://localhost/films/a.iso") << S("/films/a.iso") << false;
    QTest::newRow("file address, Chinese") << S("file:///%E5%BD%B1%E7%89%87") << S("/影片") << false;
    QTest::newRow("relative path") << S("films/x") << QDir::current().absoluteFilePath(S("films/x")) << false;
    QTest::newRow("absolute path") << S("/films/a b") << S("/films/a b") << false;
    QTest::newRow("file on another host") << S("file://server/films/a.iso") << QString() << true;
    QTest::newRow("web address") << S("https://example.org/a.iso") << QString() << true;
    QTest::newRow("smb share") << S("smb://nas/films") << QString() << true;
}

void TestOpenAndPlay::addresses()
{
    QFETCH(QString, argument);
    QFETCH(QString, path);
    QFETCH(bool, refused);
    QString error;
    const std::optional<QString> local = localPathFromArgument(argument, &error);
    QCOMPARE(!local.has_value(), refused);
    if (refused)
        QVERIFY2(error.contains(argument), qPrintable(error));
    else
        QCOMPARE(*local, path);
}

void TestOpenAndPlay::sources_data()
{
    QTest::addColumn<QString>("path");   // relative to the tree, or absolute
    QTest::addColumn<QString>("source"); // "-" when no DVD

    QTest::newRow("disc folder") << S("Film") << S("Film");
    QTest::newRow("VIDEO_TS folder") << S("Film/VIDEO_TS") << S("Film/VIDEO_TS");
    QTest::newRow("IFO inside") << S("Film/VIDEO_TS/VIDEO_TS.IFO") << S("Film/VIDEO_TS");
    QTest::newRow("VOB inside") << S("Film/VIDEO_TS/VTS_01_1.VOB") << S("Film/VIDEO_TS");
    QTest::newRow("lower-case copy") << S("lower") << S("lower");
    QTest::newRow("image by its content") << S("My Disc.img") << S("My Disc.img");
    QTest::newRow("the drive") << S("") << S("");
    QTest::newRow("IFO outside a VIDEO_TS folder") << S("loose/VTS_01_0.IFO") << S("-");
    QTest::newRow("folder of IFOs not named VIDEO_TS") << S("loose") << S("-");
    QTest::newRow("empty folder") << S("empty") << S("-");
    QTest::newRow(".iso that is no image") << S("fake.iso") << S("-");
    QTest::newRow("missing") << S("gone") << S("-");
    QTest::newRow("character device") << S("/dev/null") << S("-");
}

void TestOpenAndPlay::sources()
{
    QFETCH(QString, path);
    QFETCH(QString, source);
    auto inTree = [this](const QString &p) { return p.isEmpty() || p.startsWith(u'/') ? p : m_tree.filePath(p); };
    const std::optional<QString> found = dvdSourceFor(inTree(path));
    if (source == u"-")
        QVERIFY2(!found, qPrintable(found.value_or(QString())));
    else
        QCOMPARE(found.value_or(S("(none)")), inTree(source));
}

void TestOpenAndPlay::drops_data()
{
    QTest::addColumn<bool>("onPanel");
    QTest::addColumn<QString>("dropped");
    QTest::addColumn<QString>("played"); // "" when nothing may change

    for (bool panel : {false, true}) {
        const char *window = panel ? "panel: " : "video window: ";
        QTest::newRow(QByteArray(window).append("disc folder").constData()) << panel << S("Film") << S("Film");
        QTest::newRow(QByteArray(window).append("VOB").constData())
            << panel << S("Film/VIDEO_TS/VTS_01_1.VOB") << S("Film/VIDEO_TS");
        QTest::newRow(QByteArray(window).append("image").constData()) << panel << S("My Disc.img") << S("My Disc.img");
        QTest::newRow(QByteArray(window).append("not a DVD").constData()) << panel << S("empty") << QString();
    }
}

// Drops arrive as the window system delivers them: drag enter, then drop, on
// the real window; the play runs once the drop has returned.
void TestOpenAndPlay::drops()
{
    QFETCH(bool, onPanel);
    QFETCH(QString, dropped);
    QFETCH(QString, played);
    setVideoWindowRebuilder([] {
        unloadForm4();
        return form4().DVD;
    });
    RegStore().WriteKey(S("DVD"), S("/before"));
    const QPointer<Form4> before = &form4();
    QWidget *target = onPanel ? static_cast<QWidget *>(&form6()) : static_cast<QWidget *>(&form4());
    QVERIFY(target->acceptDrops());

    const QString path = m_tree.filePath(dropped);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at(target->width() / 2, target->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    QVERIFY(drop.isAccepted());

    if (played.isEmpty()) {
        QTRY_COMPARE(form4().notice(), S("Not a DVD folder or image: ") + path);
        QCOMPARE(&form4(), before.data());
        QCOMPARE(calls(), QStringList());
        QCOMPARE(RegStore().LoadKey(S("DVD"), QString()), S("/before"));
        return;
    }
    const QString source = m_tree.filePath(played);
    QTRY_VERIFY(before.isNull() || &form4() != before.data());
    QTRY_COMPARE(calls(), QStringList({"setDVDDirectory(" + source + ")", "Play"}));
    QCOMPARE(RegStore().LoadKey(S("DVD"), QString()), source);
    QCOMPARE(form4().notice(), QString());
}

void TestOpenAndPlay::commandLine()
{
    // An address the player cannot play from ends the start with status 2.
    QCOMPARE(handleCommandLine({S("https://example.org/film.iso")}).value_or(-1), 2);
    QVERIFY(!commandLinePath());

    setVideoWindowRebuilder([] {
        unloadForm4();
        return form4().DVD;
    });
    const QString address = QUrl::fromLocalFile(m_tree.filePath(S("My Disc.img"))).toString(QUrl::FullyEncoded);
    QVERIFY(address.contains(S("%20")));
    QVERIFY(!handleCommandLine({address}).has_value());
    QCOMPARE(commandLinePath().value_or(QString()), m_tree.filePath(S("My Disc.img")));
    QTRY_COMPARE(calls(), QStringList({"setDVDDirectory(" + m_tree.filePath(S("My Disc.img")) + ")", "Play"}));

    // A path without a DVD says so in the video window and plays nothing.
    reset();
    QVERIFY(!handleCommandLine({m_tree.filePath(S("empty"))}).has_value());
    QTRY_COMPARE(form4().notice(), S("Not a DVD folder or image: ") + m_tree.filePath(S("empty")));
    QCOMPARE(calls(), QStringList());
}

QTEST_MAIN(TestOpenAndPlay)
#include "test_open_and_play.moc"
