// The model's executor, timer and hosts-file watch for the Qt program.
#include "linux/app/CModelHost.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <thread>

#include "model/SystemSeams.h"
#include "platform/hosts/HostsPath.h"

namespace {
std::chrono::milliseconds g_minute = std::chrono::minutes(1);

// Runs the job on a thread of its own and what it returns on the user-interface thread.
void RunOffThread(OffThreadJob job) {
    std::thread([job = std::move(job)] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), job(), Qt::QueuedConnection);
    }).detach();
}

// A test's window into what the user was shown and told: nothing is written without it.
void Trace(const QString& line) {
    const QString path = qEnvironmentVariable("VANTREL_STATUS_TRACE");
    if (path.isEmpty()) return;
    QFile trace(path);
    if (!trace.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    trace.write(line.toUtf8() + '\n');
    trace.flush();
}

void TraceStatus(const MainState& state) {
    QStringList notes;
    for (const std::string& line : state.notes) notes << QString::fromStdString(line);
    Trace(QStringLiteral("status\t%1\tnotes\t%2")
              .arg(QString::fromStdString(state.status), notes.join(QStringLiteral(" / "))));
}
}  // namespace

void CModelHost::SetTimedShowMinute(std::chrono::milliseconds minute) {
    g_minute = minute;
}

CModelHost::CModelHost(std::function<void(const Notice&)> notify, PressPrompts quietPrompts,
                       QObject* parent)
    : QObject(parent),
      m_quietPrompts(quietPrompts),
      m_hostsPath(QString::fromStdString(ConfiguredHostsPath())) {
    MainSeams seams = SystemSeams();
    seams.runOffThread = RunOffThread;
    seams.wantTicks = [this](bool on) { on ? m_ticks.start() : m_ticks.stop(); };
    seams.minute = g_minute;
    seams.notify = [notify = std::move(notify)](const Notice& notice) {
        Trace(QStringLiteral("notice\t%1\t%2")
                  .arg(QString::fromStdString(notice.text),
                       notice.offerHide ? QString::fromUtf8(kHideAgainAction) : QString()));
        if (notify) notify(notice);
    };
    seams.quietPrompts = std::move(quietPrompts);
    m_model = std::make_unique<MainModel>(std::move(seams));
    m_model->AddView(TraceStatus);
    // A shortened minute is counted down in finer steps.
    m_ticks.setInterval(static_cast<int>(std::min<long long>(1000, g_minute.count() / 4 + 1)));
    connect(&m_ticks, &QTimer::timeout, this, [this] { m_model->Tick(); });

    // The file is replaced by a rename, which only its folder sees; an edit in place only the
    // file itself. Both come as bursts: read once they are over, well within two seconds.
    m_settle.setSingleShot(true);
    m_settle.setInterval(200);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        WatchHostsFile();
        m_model->FileChanged();
    });
    connect(&m_watch, &QFileSystemWatcher::directoryChanged, this, [this] { m_settle.start(); });
    connect(&m_watch, &QFileSystemWatcher::fileChanged, this, [this] { m_settle.start(); });
    WatchHostsFile();
}

CModelHost::~CModelHost() = default;

void CModelHost::WatchHostsFile() {
    // A replaced file is a new one: watched again each time.
    const QFileInfo file(m_hostsPath);
    if (!m_watch.files().isEmpty()) m_watch.removePaths(m_watch.files());
    if (m_watch.directories().isEmpty()) m_watch.addPath(file.absolutePath());
    if (file.exists()) m_watch.addPath(file.absoluteFilePath());
}
