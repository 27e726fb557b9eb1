// The folder chooser, the About and Help forms and window dragging, driven
// through their widgets on the offscreen platform.
#include "services/AboutHelp.h"
#include "services/DragWindow.h"
#include "services/FolderChooser.h"
#include "services/RegStore.h"
#include "tests/support/ScriptedEngine.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace velmora;
using velmora::testing::ScriptedEngine;

namespace {

// Runs action on the folder dialog once it is up, from the event loop that
// the modal dialog runs.
void whenDialogShows(std::function<void(QFileDialog *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        action(dialog);
    });
    timer->start();
}

void accept(QFileDialog *dialog) { static_cast<QDialog *>(dialog)->accept(); }

// A surface whose mouse-move handler drags its window, as the player's are.
class DragSurface : public QWidget
{
public:
    DragSurface() : QWidget(nullptr, Qt::FramelessWindowHint) {}

protected:
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (event->buttons() & Qt::LeftButton)
            DragWindow(this);
    }
};

} // namespace

class TestForms : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QWidget m_owner;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
        m_owner.resize(200, 100);
        m_owner.show();
    }

    void browseFromTheRoot()
    {
        QString prompt;
        QString status;
        QWidget *parent = nullptr;
        QFileDialog::Options options;
        whenDialogShows([&](QFileDialog *dialog) {
            parent = dialog->parentWidget();
            options = dialog->options();
            prompt = dialog->findChild<QLabel *>(QStringLiteral("instruction"))->text();
            status = dialog->findChild<QLabel *>(QStringLiteral("selectedPath"))->text();
            accept(dialog);
        });
        QCOMPARE(BrowseForFolder(&m_owner, BrowsePromptEnglish, QStringLiteral("\\")), QStringLiteral("/"));
        QCOMPARE(parent, &m_owner);
        QCOMPARE(prompt, BrowsePromptEnglish);
        QCOMPARE(status, QStringLiteral("/"));
        QVERIFY(options.testFlag(QFileDialog::ShowDirsOnly));
        QVERIFY(options.testFlag(QFileDialog::DontUseNativeDialog));
    }

    void browseToALongChineseFolder()
    {
        // Longer than the old 260-character buffer, and not ASCII.
        QString relative = QStringLiteral("电影");
        while (m_dir.filePath(relative).size() < 300)
            relative += QStringLiteral("/第一张光盘的文件夹");
        QVERIFY(QDir(m_dir.path()).mkpath(relative + QStringLiteral("/VIDEO_TS")));
        const QString chosen = m_dir.filePath(relative);

        QString statusAfterSelect;
        whenDialogShows([&](QFileDialog *dialog) {
            auto *status = dialog->findChild<QLabel *>(QStringLiteral("selectedPath"));
            // selectFile does nothing while the name box has the focus.
            if (QWidget *focus = QApplication::focusWidget())
                focus->clearFocus();
            dialog->selectFile(chosen + QStringLiteral("/VIDEO_TS"));
            // The selection arrives once the folder's listing is loaded.
            (void)QTest::qWaitFor([&] { return status->text().endsWith(QLatin1String("VIDEO_TS")); }, 3000);
            statusAfterSelect = status->text();
            accept(dialog);
        });
        QCOMPARE(BrowseForFolder(&m_owner, BrowsePromptChinese, chosen), chosen + QStringLiteral("/VIDEO_TS"));
        QCOMPARE(statusAfterSelect, chosen + QStringLiteral("/VIDEO_TS"));
    }

    void browseCancelled()
    {
        whenDialogShows([](QFileDialog *dialog) { dialog->reject(); });
        QCOMPARE(BrowseForFolder(&m_owner, BrowsePromptEnglish, m_dir.path()), QString());
    }

    void chooserForm()
    {
        frmDVDdirectory &form = dvdDirectoryForm();
        QCOMPARE(form.windowTitle(), QStringLiteral("DVD 文件夹选择 :"));
        QCOMPARE(form.size(), QSize(306, 73));
        QCOMPARE(form.dir->geometry(), QRect(8, 8, 289, 19));
        QCOMPARE(form.Command1->geometry(), QRect(160, 40, 137, 25));
        QCOMPARE(form.Command2->geometry(), QRect(8, 40, 137, 25));
        QCOMPARE(form.Command1->text(), QStringLiteral("确认 && 播放"));
        QCOMPARE(form.Command2->text(), QStringLiteral("取消"));
        QCOMPARE(form.dir->nextInFocusChain(), form.Command1);
        QCOMPARE(form.Command1->nextInFocusChain(), form.Command2);

        showDvdDirectoryForm(QStringLiteral("/media/影片"));
        QVERIFY(form.isVisible());
        QCOMPARE(form.dir->selectedText(), QStringLiteral("/media/影片"));
        QCOMPARE(form.dir->toolTip(), QStringLiteral("/media/影片"));
        QTest::keyClicks(form.dir, QStringLiteral("x"));   // replaces the selection
        QCOMPARE(form.dir->toolTip(), QStringLiteral("x"));
        unloadDvdDirectoryForm();
        QVERIFY(!dvdDirectoryFormLoaded());
    }

    void confirmStoresRebuildsAndPlays()
    {
        ScriptedEngine engine;
        int rebuilds = 0;
        setVideoWindowRebuilder([&] { ++rebuilds; return &engine; });
        showDvdDirectoryForm(QStringLiteral("/media/影片"));
        QTest::mouseClick(dvdDirectoryForm().Command1, Qt::LeftButton);
        QCOMPARE(RegStore().LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/media/影片"));
        QCOMPARE(rebuilds, 1);
        QCOMPARE(engine.calls, (QStringList{QStringLiteral("setDVDDirectory(/media/影片)"), QStringLiteral("Play")}));
        QVERIFY(!dvdDirectoryFormLoaded());
        setVideoWindowRebuilder({});
    }

    void confirmRefusedStaysOpen_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::newRow("folder") << QStringLiteral("setDVDDirectory");
        QTest::newRow("play") << QStringLiteral("Play");
    }
    void confirmRefusedStaysOpen()
    {
        QFETCH(QString, refused);
        ScriptedEngine engine;
        engine.failures.insert(refused, ErrorCode::NotADvd);
        int rebuilds = 0;
        setVideoWindowRebuilder([&] { ++rebuilds; return &engine; });
        showDvdDirectoryForm(QStringLiteral("/not/a/disc"));
        QTest::mouseClick(dvdDirectoryForm().Command1, Qt::LeftButton);
        QCOMPARE(RegStore().LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/not/a/disc"));
        QCOMPARE(rebuilds, 1);
        QCOMPARE(engine.calls.last(), refused == u"Play" ? QStringLiteral("Play") : QStringLiteral("setDVDDirectory(/not/a/disc)"));
        QVERIFY(dvdDirectoryFormLoaded());
        QCOMPARE(dvdDirectoryForm().dir->text(), QStringLiteral("/not/a/disc"));
        setVideoWindowRebuilder({});
        unloadDvdDirectoryForm();
    }

    void cancelStoresNothing()
    {
        RegStore().WriteKey(QStringLiteral("DVD"), QStringLiteral("/before"));
        SelectedFolder = QStringLiteral("/chosen");
        showDvdDirectoryForm(SelectedFolder);
        QTest::mouseClick(dvdDirectoryForm().Command2, Qt::LeftButton);
        QVERIFY(!dvdDirectoryFormLoaded());
        QCOMPARE(RegStore().LoadKey(QStringLiteral("DVD"), QString()), QStringLiteral("/before"));
        QCOMPARE(SelectedFolder, QStringLiteral("/chosen"));
    }

    void aboutForm()
    {
        showAbout(&m_owner);
        Abt *form = velmora::aboutForm();
        QVERIFY(form);
        QCOMPARE(form->windowTitle(), QStringLiteral("Velmora--关于我们"));
        QCOMPARE(form->size(), QSize(296, 261));
        QCOMPARE(form->Label5->text(), QStringLiteral("VelmoraV3.20"));
        QVERIFY(form->Label5->font().bold());
        QCOMPARE(form->Label5->font().pointSizeF(), 10.5);
        QCOMPARE(form->Label1->text(), QStringLiteral("联系我们："));
        QCOMPARE(form->Command1->text(), QStringLiteral("确定（&C）"));
        QCOMPARE(form->Command1->geometry(), QRect(144, 168, 105, 25));
        QCOMPARE(form->Label4->geometry(), QRect(24, 224, 225, 25));

        showAbout(&m_owner);
        QCOMPARE(velmora::aboutForm(), form);   // one instance, brought forward
        QVERIFY(QTest::qWaitForWindowActive(form));
        QTest::keyClick(form, Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(!velmora::aboutForm());
    }

    void helpText()
    {
        const QString text = velmora::helpText();
        QVERIFY(text.endsWith(QStringLiteral("\r\n")));
        QVERIFY(!text.contains(QRegularExpression(QStringLiteral("[^\\r]\\n"))));
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 34);   // 33 lines and what follows the last CR LF
        for (int i = 1; i < 34; i += 2)
            QCOMPARE(lines.at(i), QString());
        QCOMPARE(lines.at(0), QStringLiteral("欢迎使用 Velmora"));
        QCOMPARE(lines.at(2), QStringLiteral("快捷键列表"));
        QCOMPARE(lines.at(4), QStringLiteral("  打开文件 = [ O ]"));
        QCOMPARE(lines.at(6), QStringLiteral(" 播放 = [ Enter ]"));
        QCOMPARE(lines.at(14), QStringLiteral("上一章节= [ Left Arrow ]"));
        QCOMPARE(lines.at(22), QStringLiteral("原始屏幕 = [Home ]"));
        QCOMPARE(lines.at(24), QStringLiteral("音量 开/关 = [ M ]"));
        QCOMPARE(lines.at(32), QStringLiteral("退出 = [ F4 ]"));
    }

    void helpForm()
    {
        showHelp(&m_owner);
        Hlp *form = velmora::helpForm();
        QVERIFY(form);
        QCOMPARE(form->windowTitle(), QStringLiteral("帮助"));
        QCOMPARE(form->size(), QSize(467, 340));
        QCOMPARE(form->Text1->geometry(), QRect(8, 8, 449, 316));
        QVERIFY(form->Text1->isReadOnly());
        QCOMPARE(form->Text1->toPlainText(), velmora::helpText().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        const QRect screen = form->screen()->geometry();
        const QRect frame = form->frameGeometry();
        QCOMPARE(frame.left() - screen.left(), qRound((screen.width() - frame.width()) / 2.0));
        QCOMPARE(frame.top() - screen.top(), qRound((screen.height() - frame.height()) / 2.0));

        // Shown again: the same window, not centred again.
        form->move(10, 20);
        showHelp(&m_owner);
        QCOMPARE(velmora::helpForm(), form);
        QCOMPARE(form->pos(), QPoint(10, 20));

        QVERIFY(QTest::qWaitForWindowActive(form));
        QTest::keyClick(form->Text1, Qt::Key_Return);
        QTest::keyClick(form->Text1, Qt::Key_A);
        QTest::keyClick(form, Qt::Key_Enter);
        QVERIFY(form->isVisible());
        QTest::keyClick(form->Text1, Qt::Key_Escape);
        QTRY_VERIFY(!velmora::helpForm());
    }

    void dragMovesTheWindowUntilRelease()
    {
        DragSurface surface;
        surface.setGeometry(100, 100, 120, 80);
        surface.show();
        QVERIFY(QTest::qWaitForWindowExposed(&surface));
        const QPoint start = surface.pos();

        // A plain move does nothing.
        QTest::mouseMove(&surface, QPoint(30, 30));
        DragWindow(&surface);
        QCOMPARE(surface.pos(), start);

        // Through the window, as the window system delivers them: the
        // application then knows which buttons are down. The pointer moves
        // with each event, as a real one would.
        QWindow *window = surface.windowHandle();
        auto pointerTo = [&](QPoint global) {
            QCursor::setPos(global);
            QTest::mouseMove(window, global - surface.pos());
        };
        QCursor::setPos(start + QPoint(10, 10));
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(10, 10));
        pointerTo(start + QPoint(40, 30));   // the drag starts here
        pointerTo(start + QPoint(70, 50));
        QTRY_COMPARE(surface.pos(), start + QPoint(30, 20));
        pointerTo(start + QPoint(20, 90));
        QTRY_COMPARE(surface.pos(), start + QPoint(-20, 60));
        QTest::mouseRelease(window, Qt::LeftButton, {}, QCursor::pos() - surface.pos());
        const QPoint dropped = surface.pos();
        pointerTo(start + QPoint(200, 200));
        QCOMPARE(surface.pos(), dropped);
    }
};

QTEST_MAIN(TestForms)
#include "test_forms.moc"
