// A Qt generic plugin that ends a program at the first paint of its main dialog, so the bench
// can time an unchanged program from spawn to the dialog on screen (and its normal exit).
// Loaded through QT_PLUGIN_PATH and QT_QPA_GENERIC_PLUGINS=vantrelpaintquit; the dialog is the
// first window painted whose class is named by VANTREL_BENCH_DIALOG_CLASS.
#include <QDialog>
#include <QEvent>
#include <QGenericPlugin>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>

namespace {

class CPaintQuit : public QObject {
public:
    CPaintQuit() {
        const char* name = std::getenv("VANTREL_BENCH_DIALOG_CLASS");
        m_strClass = name != nullptr ? name : "QDialog";
        // A program that never shows the dialog must not hang the bench.
        QTimer::singleShot(30000, this, [] { std::_Exit(3); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || m_bDone) return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog == nullptr || !dialog->isWindow() ||
            m_strClass != dialog->metaObject()->className()) {
            return false;
        }
        m_bDone = true;
        // After the paint pass has finished and reached the window.
        QTimer::singleShot(0, dialog, [dialog] { dialog->done(0); });
        return false;
    }

private:
    QByteArray m_strClass;
    bool m_bDone = false;
};

}  // namespace

class CPaintQuitPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "PaintQuitPlugin.json")

public:
    QObject* create(const QString&, const QString&) override {
        // No parent: the application deletes the plugins' objects itself, after its children.
        auto* filter = new CPaintQuit;
        qApp->installEventFilter(filter);
        return filter;
    }
};

#include "PaintQuitPlugin.moc"
