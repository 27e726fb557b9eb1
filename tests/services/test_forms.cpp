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
#define S QStringLiteral

namespace {

// Runs action on the folder dialog once it is up, from the modal loop.
void whenDialogShows(std::function<void(QFileDialog *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            action(dialog);
        }
    });
    timer->start();
}

QString labelText(QFileDialog *dialog, const QString &name)
{
    return dialog->findChild<QLabel *>(name)->text();
}

// A surface whose mouse-move handler drags its window, as the player's do.
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

    // Confirms path in the chooser against engine; returns the rebuild count.
    int confirm(ScriptedEngine &engine, const QString &path)
    {
        int rebuilds = 0;
        setVideoWindowRebuilder([&] { ++rebuilds; return &engine; });
        showDvdDirectoryForm(path);
        QTest::mouseClick(dvdDirectoryForm().Command1, Qt::LeftButton);
        setVideoWindowRebuilder({});
        return rebuilds;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(S("config"))));
        m_owner.show();
    }

    void browse()
    {
        // "\" is the root; the prompt and the selection show in the dialog.
        QStringList seen;
        QWidget *parent = nullptr;
        whenDialogShows([&](QFileDialog *dialog) {
            parent = dialog->parentWidget();
            seen << labelText(dialog, S("instruction")) << labelText(dialog, S("selectedPath"));
            QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
            static_cast<QDialog *>(dialog)->accept();
        });
        QCOMPARE(BrowseForFolder(&m_owner, BrowsePromptEnglish, S("\\")), S("/"));
        QCOMPARE(parent, &m_owner);
        QCOMPARE(seen, (QStringList{BrowsePromptEnglish, S("/")}));

        whenDialogShows([](QFileDialog *dialog) { dialog->reject(); });
        QCOMPARE(BrowseForFolder(&m_owner, BrowsePromptEnglish, m_dir.path()), QString());
    }

    void browseToALongChineseFolder()
    {
        // Longer than the old 260-character buffer, and not ASCII.
        QString chosen = m_dir.filePath(S("电影"));
        while (chosen.size() < 300)
            chosen += S("/第一张光盘的文件夹");
        chosen += S("/VIDEO_TS");
        QVERIFY(QDir().mkpath(chosen));
        QString status;
        whenDialogShows([&](QFileDialog *dialog) {
            // selectFile does nothing while the name box has the focus.
            if (QWidget *focus = QApplication::focusWidget())
                focus->clearFocus();
            dialog->selectFile(chosen);
            // The selection arrives once the folder's listing is loaded.
            (void)QTest::qWaitFor([&] { return labelText(dialog, S("selectedPath")) == chosen; }, 3000);
            status = labelText(dialog, S("selectedPath"));
            static_cast<QDialog *>(dialog)->accept();
        });
        QCOMPARE(BrowseForFolder(&m_owner, BrowsePromptChinese, QFileInfo(chosen).path()), chosen);
        QCOMPARE(status, chosen);
    }

    void chooserForm()
    {
        frmDVDdirectory &form = dvdDirectoryForm();
        QCOMPARE(form.dir->nextInFocusChain(), form.Command1);
        QCOMPARE(form.Command1->nextInFocusChain(), form.Command2);
        QCOMPARE(form.Command1->text(), S("确认 && 播放"));   // a literal ampersand
        showDvdDirectoryForm(S("/media/影片"));
        QCOMPARE(form.dir->selectedText(), S("/media/影片"));
        QCOMPARE(form.dir->toolTip(), S("/media/影片"));
        QTest::keyClicks(form.dir, S("x"));   // typing replaces the selection
        QCOMPARE(form.dir->toolTip(), S("x"));
        unloadDvdDirectoryForm();
        QVERIFY(!dvdDirectoryFormLoaded());
    }

    void confirmStoresRebuildsAndPlays()
    {
        ScriptedEngine engine;
        QCOMPARE(confirm(engine, S("/media/影片")), 1);
        QCOMPARE(RegStore().LoadKey(S("DVD"), QString()), S("/media/影片"));
        QCOMPARE(engine.calls, (QStringList{S("setDVDDirectory(/media/影片)"), S("Play")}));
        QVERIFY(!dvdDirectoryFormLoaded());
    }

    void confirmRefusedStaysOpen_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::newRow("folder") << S("setDVDDirectory");
        QTest::newRow("play") << S("Play");
    }
    void confirmRefusedStaysOpen()
    {
        QFETCH(QString, refused);
        ScriptedEngine engine;
        engine.failures.insert(refused, ErrorCode::NotADvd);
        QCOMPARE(confirm(engine, S("/not/a/disc")), 1);
        QCOMPARE(RegStore().LoadKey(S("DVD"), QString()), S("/not/a/disc"));
        QVERIFY(engine.calls.last().startsWith(refused));
        QVERIFY(dvdDirectoryFormLoaded());
        QCOMPARE(dvdDirectoryForm().dir->text(), S("/not/a/disc"));
        unloadDvdDirectoryForm();
    }

    void cancelStoresNothing()
    {
        RegStore().WriteKey(S("DVD"), S("/before"));
        showDvdDirectoryForm(S("/chosen"));
        QTest::mouseClick(dvdDirectoryForm().Command2, Qt::LeftButton);
        QVERIFY(!dvdDirectoryFormLoaded());
        QCOMPARE(RegStore().LoadKey(S("DVD"), QString()), S("/before"));
    }

    void aboutForm()
    {
        showAbout(&m_owner);
        Abt *form = velmora::aboutForm();
        QVERIFY(form);
        showAbout(&m_owner);
        QCOMPARE(velmora::aboutForm(), form);   // one instance, brought forward
        QVERIFY(QTest::qWaitForWindowActive(form));
        QTest::keyClick(form, Qt::Key_C, Qt::AltModifier);   // the button's access key
        QTRY_VERIFY(!velmora::aboutForm());
    }

    void helpText()
    {
        const QString text = velmora::helpText();
        QVERIFY(text.endsWith(S("\r\n")));
        QVERIFY(!text.contains(QRegularExpression(S("[^\\r]\\n"))));
        const QStringList lines = text.split(S("\r\n"));
        QCOMPARE(lines.size(), 34);   // 33 lines and what follows the last CR LF
        for (int i = 1; i < 34; i += 2)
            QCOMPARE(lines.at(i), QString());
        QCOMPARE(lines.at(4), S("  打开文件 = [ O ]"));   // leading spaces kept
    }

    void helpForm()
    {
        showHelp(&m_owner);
        Hlp *form = velmora::helpForm();
        QVERIFY(form && form->Text1->isReadOnly());
        QCOMPARE(form->Text1->toPlainText(), velmora::helpText().replace(S("\r\n"), S("\n")));
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
        QTest::keyClick(form, Qt::Key_A);
        QVERIFY(form->isVisible());
        QTest::keyClick(form->Text1, Qt::Key_Escape);
        QTRY_VERIFY(!velmora::helpForm());
    }

    void dragMovesTheWindowUntilRelease()
    {
        // Offscreen has no window manager move: this is the hand-made one.
        DragSurface surface;
        surface.setGeometry(100, 100, 120, 80);
        surface.show();
        QVERIFY(QTest::qWaitForWindowExposed(&surface));
        const QPoint start = surface.pos();
        DragWindow(&surface);   // no button held: nothing
        QCOMPARE(surface.pos(), start);

        // Events go through the window so the application knows the
        // buttons; the pointer moves with each, as a real one would.
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
