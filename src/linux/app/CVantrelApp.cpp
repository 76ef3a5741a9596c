// The application object: runs the main dialog modally; the program ends when it closes. Or
// the tray, the session's only one.
#include "linux/app/CVantrelApp.h"

#include <cstring>

#include "linux/app/CSplashDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/app/CVantrelTray.h"
#include "linux/app/Pictures.h"
#include "linux/app/TrayInstance.h"
#include "linux/upgrade/NetUi.h"

CVantrelApp::CVantrelApp(int& argc, char** argv)
    : QApplication(argc, argv), m_tray(argc >= 2 && std::strcmp(argv[1], "--tray") == 0) {
    // Read while the fonts are set up for the main dialog.
    Pictures::PrepareStylePictures();
    setApplicationName(QStringLiteral("Vantrel"));
    setWindowIcon(Pictures::AppIcon());
}

int CVantrelApp::Run() {
    if (m_tray) return RunTray();
    InitInstance();
    return 0;
}

int CVantrelApp::RunTray() {
    CTrayInstance instance;
    // Another tray runs: it was asked to bring its menu forward.
    if (!instance.Claim()) return 0;
    InitNetUi();
    setQuitOnLastWindowClosed(false);
    CVantrelTray tray;
    connect(&instance, &CTrayInstance::Called, &tray, &CVantrelTray::PopUpMenu);
    tray.Start();
    return exec();
}

bool CVantrelApp::InitInstance() {
    InitNetUi();  // the fetcher's password dialog and its one message
    // The dialog shows its splash as it appears: the picture is read while the dialog is built.
    CSplashDlg::PreparePicture();
    CVantrelDlg dlg;
    dlg.exec();
    return false;
}
