#include <QApplication>
#include <QMainWindow>

#include "platform/qtdialogs.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    pictolio::QtDialogs dialogs;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Pictolio Software"));
    dialogs.setOwner(&window);
    window.show();
    return app.exec();
}
