// The application object: the session's one Vantrel, with its one model, its window and its tray.
#include "linux/app/CVantrelApp.h"

#include <cstring>

#include "linux/app/CModelHost.h"
#include "linux/app/CSplashDlg.h"
#include "linux/app/CVantrelDlg.h"
#include "linux/app/CVantrelTray.h"
#include "linux/app/Pictures.h"
#include "linux/browsers/BrowserOffer.h"
#include "linux/controls/MessageBox.h"
#include "linux/upgrade/NetUi.h"

CVantrelApp::CVantrelApp(int& argc, char** argv)
    : QApplication(argc, argv),
      m_wish(argc >= 2 && std::strcmp(argv[1], "--tray") == 0 ? CSessionInstance::Wish::Tray
                                                              : CSessionInstance::Wish::Window) {
    // Read while the fonts are set up for the main dialog.
    Pictures::PrepareStylePictures();
    setApplicationName(QStringLiteral("Vantrel"));
    setWindowIcon(Pictures::AppIcon());
}

CVantrelApp::~CVantrelApp() {
    // Whoever starts next becomes the session's Vantrel; the views go before the model they draw.
    m_instance.reset();
    delete m_window;
    m_tray.reset();
    m_host.reset();
}

int CVantrelApp::Run() {
    m_instance = std::make_unique<CSessionInstance>();
    if (!m_instance->Claim(m_wish)) return 0;
    InitNetUi();  // the fetcher's password dialog and its one message
    // The window may close while the tray stays, and the tray's menu is no window.
    setQuitOnLastWindowClosed(false);
    // The splash shows as the window appears: its picture is read while the window is built.
    if (m_wish == CSessionInstance::Wish::Window) CSplashDlg::PreparePicture();
    m_host = std::make_unique<CModelHost>([this](const Notice& notice) { ShowNotice(notice); },
                                          Prompts());
    connect(m_instance.get(), &CSessionInstance::Wished, this, &CVantrelApp::Wished);
    // The view is there before the model starts: a timed Show whose time passed is said at once,
    // by the tray or in the window. Nothing is painted before the model has drawn.
    if (m_wish == CSessionInstance::Wish::Tray) {
        ShowTray();
    } else {
        OpenWindow();
    }
    m_host->Model().Start();
    return exec();
}

void CVantrelApp::Wished(CSessionInstance::Wish wish) {
    if (wish == CSessionInstance::Wish::Window) {
        OpenWindow();
    } else {
        ShowTray();
    }
}

void CVantrelApp::OpenWindow() {
    if (!m_window) {
        m_window = new CVantrelDlg(*m_host);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        // Without the tray it is the last Vantrel: it asks before it goes during a timed Show.
        m_window->SetLastOne([this] { return !m_tray; });
        connect(m_window, &QDialog::finished, this, &CVantrelApp::WindowClosed);
        connect(m_window, &QDialog::finished, m_window, &QObject::deleteLater);
        if (m_tray) m_tray->SetWindow(m_window);
    }
    if (m_window->isMinimized()) m_window->showNormal();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void CVantrelApp::ShowTray() {
    if (m_tray) {
        m_tray->PopUpMenu();
        return;
    }
    m_tray = std::make_unique<CVantrelTray>(*m_host);
    m_tray->SetWindow(m_window);
    connect(m_tray.get(), &CVantrelTray::OpenWindowAsked, this, &CVantrelApp::OpenWindow);
    m_tray->Show();
}

void CVantrelApp::WindowClosed() {
    if (!m_tray) quit();
}

void CVantrelApp::ShowNotice(const Notice& notice) {
    // Said once: by the tray while it is there, else by the window.
    if (m_tray) {
        m_tray->ShowNotice(notice);
    } else if (m_window) {
        m_window->ShowNotice(notice);
    }
}

PressPrompts CVantrelApp::Prompts() {
    // Over the window when it is open.
    PressPrompts prompts;
    prompts.tell = [this](const std::string& text) {
        ShowMessage(m_window, QString::fromStdString(text), QStringLiteral("Vantrel"),
                    QMessageBox::Ok, QMessageBox::Warning);
    };
    prompts.offerToClose = [this](const std::function<void(const std::string&)>& waiting) {
        return OfferToCloseBrowserWindows(m_window, waiting);
    };
    return prompts;
}
