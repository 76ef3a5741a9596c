// Benchmark child: the smallest Qt Widgets program that shows a dialog; the yardstick for the
// program's start. With the argument "label" the dialog holds one line of text, which makes Qt
// load its font database: the part of any start that an empty dialog never pays. The bench's
// paint plugin ends it once the dialog is on screen, as it ends the program.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dlg;
    if (argc > 1 && std::strcmp(argv[1], "label") == 0) new QLabel(QStringLiteral("Vantrel"), &dlg);
    dlg.exec();
    return 0;
}
