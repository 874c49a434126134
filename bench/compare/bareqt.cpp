// The least a Qt 6 widget program does before its first window is on the
// screen: what Varlo's start is held against. Runs until it is ended.

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare Qt"));
    window.resize(330, 289);
    window.show();
    return app.exec();
}
