// The reference for the start-up time: a bare Qt Widgets window with one label, built with the same Qt as the
// program and started the same way. Its label sits where the program's server list shows its first row, so
// one region of the window serves to see both drawn.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(550, 460);
    QLabel label(QStringLiteral("127.0.0.1 服务器"), &window);
    label.setGeometry(38, 82, 300, 18);
    window.show();
    return QApplication::exec();
}
