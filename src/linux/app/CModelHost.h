// The main window's model as this program holds it: over the system's seams, with the program's
// executor, its timer of about a second and the watch on the hosts file's folder. The application
// holds one, which its window and its tray draw; a window built alone holds its own.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

#include "model/MainModel.h"

class CModelHost : public QObject {
    Q_OBJECT

public:
    // `notify` and `quietPrompts` are those of whoever holds this: the application or a window.
    CModelHost(std::function<void(const Notice&)> notify, PressPrompts quietPrompts,
               QObject* parent = nullptr);
    ~CModelHost() override;

    MainModel& Model() { return *m_model; }
    // The holder's prompts (over its window): also those of a press from a view without a
    // window of its own, the tray.
    const PressPrompts& QuietPrompts() const { return m_quietPrompts; }

    // How long a minute of a timed Show lasts in this program. Only a test program shortens it.
    static void SetTimedShowMinute(std::chrono::milliseconds minute);

private:
    void WatchHostsFile();

    PressPrompts m_quietPrompts;
    std::unique_ptr<MainModel> m_model;
    QTimer m_ticks;
    QFileSystemWatcher m_watch;
    QTimer m_settle;  // a change is read once the writes that make it are done
    QString m_hostsPath;
};
