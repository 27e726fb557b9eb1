// Velmora: a desktop DVD player.
#include "engine/NullEngine.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QWidget window;
    window.resize(611, 412);
    auto *engine = new velmora::NullEngine(&window);
    engine->Move(20, 50, 571, 342);
    window.show();
    return app.exec();
}
