// The application object: runs the main dialog modally; the program ends when it closes.
#include "linux/app/CVantrelApp.h"

#include "linux/app/CVantrelDlg.h"
#include "linux/app/Pictures.h"
#include "linux/net/NetUi.h"

CVantrelApp::CVantrelApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Vantrel"));
    setWindowIcon(Pictures::AppIcon());
}

int CVantrelApp::Run() {
    InitInstance();
    return 0;
}

bool CVantrelApp::InitInstance() {
    InitNetUi();  // the fetcher's password dialog and its one message
    CVantrelDlg dlg;
    dlg.exec();
    return false;
}
