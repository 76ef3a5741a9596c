// The application object: runs the main dialog modally; the program ends when it closes.
#include "linux/app/CVantrelApp.h"

#include "linux/app/CSplashDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/app/Pictures.h"
#include "linux/upgrade/NetUi.h"

CVantrelApp::CVantrelApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Read while the fonts are set up for the main dialog.
    Pictures::PrepareStylePictures();
    setApplicationName(QStringLiteral("Vantrel"));
    setWindowIcon(Pictures::AppIcon());
}

int CVantrelApp::Run() {
    InitInstance();
    return 0;
}

bool CVantrelApp::InitInstance() {
    InitNetUi();  // the fetcher's password dialog and its one message
    // The dialog shows its splash as it appears: the picture is read while the dialog is built.
    CSplashDlg::PreparePicture();
    CVantrelDlg dlg;
    dlg.exec();
    return false;
}
