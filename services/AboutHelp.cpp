#include "AboutHelp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace velmora {

namespace {

// The About form's own lines: where to find the project, and its notice.
const QString AboutContact = QStringLiteral("项目主页：");
const QString AboutPage = QStringLiteral("https://velmora.example/");
const QString AboutNotice = QStringLiteral("© 2026 Velmora. All rights reserved.");

QPointer<Abt> &aboutInstance()
{
    static QPointer<Abt> form;
    return form;
}

QPointer<Hlp> &helpInstance()
{
    static QPointer<Hlp> form;
    return form;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, QRect geometry)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    return l;
}

QIcon ownerIcon(QWidget *owner)
{
    if (owner && !owner->window()->windowIcon().isNull())
        return owner->window()->windowIcon();
    return QApplication::windowIcon();
}

void bringForward(QWidget *form)
{
    form->show();
    if (form->isMinimized())
        form->showNormal();
    form->raise();
    form->activateWindow();
}

} // namespace

QString helpText()
{
    static const char16_t *const Lines[] = {
        u"欢迎使用 Velmora",
        u"快捷键列表",
        u"  打开文件 = [ O ]",
        u" 播放 = [ Enter ]",
        u"暂停 = [ P ]",
        u"停止 = [ Space ]",
        u"下一章节 = [ Right Arrow ]",
        u"上一章节= [ Left Arrow ]",
        u"单步前进 = [ Page Down ]",
        u"单步后退 = [ Page Up ]",
        u"全屏播放 = [ Home ]",
        u"原始屏幕 = [Home ]",
        u"音量 开/关 = [ M ]",
        u"增加音量 = [ + ]",
        u"减小音量 = [ - ]",
        u"帮助 = [ F1 ]",
        u"退出 = [ F4 ]",
    };
    // Each shortcut line is followed by an empty line; the last empty line
    // ends the text with CR LF.
    QString text;
    for (const char16_t *line : Lines)
        text += QString::fromUtf16(line) + QStringLiteral("\r\n\r\n");
    text.chop(2);
    return text;
}

Abt::Abt(QWidget *parent)
    : QWidget(parent, Qt::Dialog),
      // Client area 4440 x 3915 twips; every rectangle below is twips / 15.
      Label5(label(this, "Label5", QStringLiteral("VelmoraV3.20"), {8, 8, 121, 25})),
      Label1(label(this, "Label1", QStringLiteral("联系我们："), {8, 40, 81, 25})),
      Label2(label(this, "Label2", AboutContact, {32, 72, 81, 17})),
      Label3(label(this, "Label3", AboutPage, {32, 104, 201, 25})),
      Command1(new QPushButton(QStringLiteral("确定（&C）"), this)),
      Label4(label(this, "Label4", AboutNotice, {24, 224, 225, 25}))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Velmora--关于我们"));
    setFixedSize(296, 261);

    QFont title(QStringLiteral("宋体"));
    title.setPointSizeF(10.5);
    title.setBold(true);
    Label5->setFont(title);
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(144, 168, 105, 25);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

Abt::~Abt() = default;

void Abt::Command1_Click()
{
    close();
}

Hlp::Hlp(QWidget *parent) : QWidget(parent, Qt::Dialog), Text1(new QPlainTextEdit(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("帮助"));
    // Client area 7005 x 5100 twips, the text box 6735 x 4740 at 120, 120.
    setFixedSize(467, 340);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(8, 8, 449, 316);
    Text1->setReadOnly(true);
    // The text box ends paragraphs at CR as well as at LF: hand it LF only.
    QString shown = helpText();
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Text1->setPlainText(shown);
    Text1->installEventFilter(this);
    cen();
}

Hlp::~Hlp() = default;

void Hlp::cen()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = frameGeometry().size();
    move(area.left() + qRound((area.width() - outer.width()) / 2.0),
         area.top() + qRound((area.height() - outer.height()) / 2.0));
}

void Hlp::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    event->ignore();
}

bool Hlp::eventFilter(QObject *watched, QEvent *event)
{
    // The text box has the focus and would keep Escape to itself.
    if (watched == Text1 && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void showAbout(QWidget *owner)
{
    auto &form = aboutInstance();
    if (!form) {
        form = new Abt(owner ? owner->window() : nullptr);
        form->setWindowIcon(ownerIcon(owner));
    }
    bringForward(form);
}

void showHelp(QWidget *owner)
{
    auto &form = helpInstance();
    const bool created = !form;
    if (created) {
        form = new Hlp(owner ? owner->window() : nullptr);
        form->setWindowIcon(ownerIcon(owner));
    }
    bringForward(form);
    // Once more now that it is on screen: its frame is part of its size.
    if (created)
        form->cen();
}

Abt *aboutForm()
{
    return aboutInstance();
}

Hlp *helpForm()
{
    return helpInstance();
}

} // namespace velmora
