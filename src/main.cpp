#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Lockvane");
    QMainWindow window;
    window.setWindowTitle("Lockvane");
    window.resize(300, 200);
    window.show();
    return QApplication::exec();
}
