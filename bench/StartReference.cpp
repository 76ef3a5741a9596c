// Benchmark child: the smallest Qt Widgets program that shows a dialog; the yardstick for the
// program's start.
#include <QApplication>
#include <QDialog>

#include "FirstPaintQuit.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dlg;
    CFirstPaintQuit quit(&dlg);
    dlg.exec();
    return quit.Painted() ? 0 : 1;
}
