// The application object: runs the main dialog modally; the program ends when it closes.
#include "app/CVantrelApp.h"

#include "app/CVantrelDlg.h"
#include "app/Pictures.h"
#include "net/NetUi.h"

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
