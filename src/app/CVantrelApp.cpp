// The application object.
#include "app/CVantrelApp.h"

#include "app/CVantrelDlg.h"

CVantrelApp::CVantrelApp(int& argc, char** argv) : QApplication(argc, argv) {}

int CVantrelApp::Run() {
    InitInstance();
    return 0;
}

bool CVantrelApp::InitInstance() {
    CVantrelDlg dlg;
    dlg.exec();
    return false;
}
