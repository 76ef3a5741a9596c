// Benchmark child: starts the program's application object and main dialog as the program does,
// and ends as soon as the dialog has been painted once.
#include "FirstPaintQuit.h"
#include "linux/app/CVantrelApp.h"
#include "linux/app/CVantrelDlg.h"

int main(int argc, char** argv) {
    CVantrelApp app(argc, argv);
    CVantrelDlg dlg;
    CFirstPaintQuit quit(&dlg);
    dlg.exec();
    return quit.Painted() ? 0 : 1;
}
