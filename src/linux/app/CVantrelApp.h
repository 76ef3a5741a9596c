// The application: shows the main dialog modally and ends when it closes; with "--tray", the
// session's tray icon instead, until its Exit.
#pragma once

#include <QApplication>

class CVantrelApp : public QApplication {
    Q_OBJECT

public:
    CVantrelApp(int& argc, char** argv);

    // Runs the main dialog; the process's exit status.
    int Run();

private:
    bool InitInstance();
    int RunTray();

    bool m_tray = false;
};
