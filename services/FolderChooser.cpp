#include "FolderChooser.h"

#include "RegStore.h"
#include "engine/DvdEngine.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <exception>

namespace velmora {

QString SelectedFolder;

namespace {

VideoWindowRebuilder &rebuilder()
{
    static VideoWindowRebuilder r;
    return r;
}

int browsersOpen = 0;
std::uint64_t browserChanges = 0;

// Counts a browser as open for as long as it runs.
struct BrowserOpen
{
    BrowserOpen()
    {
        ++browsersOpen;
        ++browserChanges;
    }
    ~BrowserOpen()
    {
        --browsersOpen;
        ++browserChanges;
    }
    BrowserOpen(const BrowserOpen &) = delete;
    BrowserOpen &operator=(const BrowserOpen &) = delete;
};

QPointer<frmDVDdirectory> &instance()
{
    static QPointer<frmDVDdirectory> form;
    return form;
}

// The folder to open on: "\" (the old root) and "" mean "/", a folder that
// is gone opens on its nearest existing parent.
QString startFolder(const QString &start)
{
    if (start.isEmpty() || start == u"\\")
        return QStringLiteral("/");
    QDir dir(QDir::cleanPath(QDir(QStringLiteral("/")).absoluteFilePath(start)));
    while (!dir.exists() && !dir.isRoot()) {
        if (!dir.cdUp())
            break;
    }
    return dir.exists() ? dir.absolutePath() : QStringLiteral("/");
}

// Puts the prompt above the dialog's own rows and the selection's full path
// below them. The non-native dialog lays itself out on one grid; its rows
// move down by one to make room.
void addInstructionLines(QFileDialog &dialog, const QString &prompt, QLabel *&status)
{
    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    auto *instruction = new QLabel(prompt, &dialog);
    instruction->setObjectName(QStringLiteral("instruction"));
    instruction->setWordWrap(true);
    status = new QLabel(&dialog);
    status->setObjectName(QStringLiteral("selectedPath"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (!grid) {
        dialog.setWindowTitle(prompt);
        return;
    }
    struct Placed {
        QLayoutItem *item;
        int row, column, rowSpan, columnSpan;
    };
    QList<Placed> placed;
    for (int i = grid->count() - 1; i >= 0; --i) {
        Placed p{nullptr, 0, 0, 1, 1};
        grid->getItemPosition(i, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(i);
        placed.prepend(p);
    }
    int columns = 1;
    int rows = 0;
    for (const Placed &p : placed) {
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
        columns = std::max(columns, p.column + p.columnSpan);
        rows = std::max(rows, p.row + 1 + p.rowSpan);
    }
    grid->addWidget(instruction, 0, 0, 1, columns);
    grid->addWidget(status, rows, 0, 1, columns);
}

} // namespace

QString BrowseForFolder(QWidget *owner, const QString &prompt, const QString &start)
{
    QFileDialog dialog(owner);
    // The non-native dialog looks and behaves the same on every desktop.
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    QLabel *status = nullptr;
    addInstructionLines(dialog, prompt, status);

    const QString first = startFolder(start);
    dialog.setDirectory(first);
    status->setText(QDir::toNativeSeparators(first));
    // What Choose would return right now: the selected or typed folder, or
    // the folder being shown.
    auto showSelection = [&dialog, status] {
        const QStringList files = dialog.selectedFiles();
        const QString path = files.isEmpty() ? dialog.directory().absolutePath() : files.first();
        status->setText(QDir::toNativeSeparators(QDir::cleanPath(path)));
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, status, showSelection);
    QObject::connect(&dialog, &QFileDialog::directoryEntered, status, showSelection);
    // Selections made without moving the current item show up in the name box.
    if (auto *name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        QObject::connect(name, &QLineEdit::textChanged, status, showSelection);

    int result = QDialog::Rejected;
    {
        BrowserOpen open;
        result = dialog.exec();
    }
    if (result != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return QString();
    return QDir::cleanPath(QFileInfo(chosen.first()).absoluteFilePath());
}

bool folderBrowserOpen()
{
    return browsersOpen > 0;
}

std::uint64_t folderBrowserChanges()
{
    return browserChanges;
}

void setVideoWindowRebuilder(VideoWindowRebuilder r)
{
    rebuilder() = std::move(r);
}

frmDVDdirectory::frmDVDdirectory(QWidget *parent)
    : QWidget(parent, Qt::Dialog),
      dir(new QLineEdit(this)),
      Command1(new QPushButton(QStringLiteral("确认 && 播放"), this)),
      Command2(new QPushButton(QStringLiteral("取消"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("DVD 文件夹选择 :"));
    // 4590 x 1095 twips at 15 twips per pixel.
    setFixedSize(306, 73);
    dir->setObjectName(QStringLiteral("dir"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));
    dir->setGeometry(8, 8, 289, 19);
    Command1->setGeometry(160, 40, 137, 25);
    Command2->setGeometry(8, 40, 137, 25);
    Command1->setAutoDefault(false);
    Command2->setAutoDefault(false);
    setTabOrder(dir, Command1);
    setTabOrder(Command1, Command2);
    dir->setFocus();

    connect(dir, &QLineEdit::textChanged, this, [this] { dir_Change(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

frmDVDdirectory::~frmDVDdirectory() = default;

void frmDVDdirectory::dir_Change()
{
    // A path longer than the box reads in full by hovering.
    dir->setToolTip(dir->text());
}

bool playConfirmedFolder(const QString &path)
{
    RegStore().WriteKey(QStringLiteral("DVD"), path);
    try {
        DvdEngine *engine = rebuilder() ? rebuilder()() : nullptr;
        if (!engine)
            return false;
        engine->setDVDDirectory(path);
        engine->Play();
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

void frmDVDdirectory::Command1_Click()
{
    // A refused folder leaves the form open with the path, so the user can
    // correct it or cancel.
    if (playConfirmedFolder(dir->text()))
        unloadDvdDirectoryForm();
}

void frmDVDdirectory::Command2_Click()
{
    unloadDvdDirectoryForm();
}

frmDVDdirectory &dvdDirectoryForm()
{
    auto &form = instance();
    if (!form)
        form = new frmDVDdirectory;
    return *form;
}

bool dvdDirectoryFormLoaded()
{
    return !instance().isNull();
}

void unloadDvdDirectoryForm()
{
    // Forget the instance first: the next reference builds a new one even
    // before this one is gone (it may be unloading from its own click).
    frmDVDdirectory *form = instance();
    instance() = nullptr;
    if (form) {
        form->hide();
        form->deleteLater();
    }
}

void showDvdDirectoryForm(const QString &path)
{
    frmDVDdirectory &form = dvdDirectoryForm();
    form.show();
    form.dir->setText(path);
    form.dir->selectAll();
    form.raise();
    form.activateWindow();
}

} // namespace velmora
