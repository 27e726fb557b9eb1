#pragma once
// The About form Abt and the Help form Hlp with the shortcut list.
//
// Each is a single instance, shown modeless, destroyed when closed; showing
// it again while open brings the existing window forward.

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velmora {

class Abt : public QWidget
{
    Q_OBJECT
public:
    explicit Abt(QWidget *parent = nullptr);
    ~Abt() override;

    QLabel *Label5;         // product and version
    QLabel *Label1;         // "联系我们："
    QLabel *Label2;         // contact
    QLabel *Label3;         // project page
    QPushButton *Command1;  // "确定（&C）": closes the form
    QLabel *Label4;         // rights notice

    void Command1_Click();
};

class Hlp : public QWidget
{
    Q_OBJECT
public:
    explicit Hlp(QWidget *parent = nullptr);
    ~Hlp() override;

    QPlainTextEdit *Text1;  // the shortcut list, read-only

    // Centres the form on its screen.
    void cen();

protected:
    // Escape closes the form; every other key is ignored.
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The help text exactly as the form holds it: lines separated by CR LF,
// ending with CR LF, every second line empty.
QString helpText();

// Shows the form (creating it if needed; owner gives the icon, Help also
// centres itself on creation) and brings it forward. owner may be nullptr.
void showAbout(QWidget *owner = nullptr);
void showHelp(QWidget *owner = nullptr);
// The open instances, or nullptr.
Abt *aboutForm();
Hlp *helpForm();

} // namespace velmora
