// The application: the session's one Vantrel. Started as the window (no argument) or as the tray
// ("--tray"), it holds the one model both draw; a later start of either kind hands its wish to
// it and ends. It ends when neither the window nor the tray remains.
#pragma once

#include <QApplication>
#include <QPointer>
#include <memory>

#include "linux/app/CSessionInstance.h"
#include "model/MainModel.h"

class CModelHost;
class CVantrelDlg;
class CVantrelTray;

class CVantrelApp : public QApplication {
    Q_OBJECT

public:
    CVantrelApp(int& argc, char** argv);
    ~CVantrelApp() override;

    // Runs this session's Vantrel, or hands the wish to the one that runs; the exit status.
    int Run();

private:
    void Wished(CSessionInstance::Wish wish);
    // The window, opened or brought forward.
    void OpenWindow();
    // The tray's icon, shown, or its menu brought forward.
    void ShowTray();
    void WindowClosed();
    void ShowNotice(const Notice& notice);
    PressPrompts Prompts();

    CSessionInstance::Wish m_wish;
    std::unique_ptr<CSessionInstance> m_instance;
    std::unique_ptr<CModelHost> m_host;
    std::unique_ptr<CVantrelTray> m_tray;
    QPointer<CVantrelDlg> m_window;
};
