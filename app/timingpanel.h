#pragma once

#include <QObject>
#include <QString>

#include <memory>

class Link;
class QDockWidget;
class QMainWindow;
class Session;
class SoakReport;
class TimingView;
class TransactionModel;
struct RunReport;

// The chip's timing beside the work log: a dock holding the timing view, the button in the
// window's status bar that opens it, the transaction model the view shows, and the soak reports.
// A run report lasts while any test tool runs: it starts with the first tool and is written when
// the last one ends. The view is made when it is first opened or has a report to show.
class TimingPanel : public QObject
{
    Q_OBJECT
public:
    // The test tools whose runs are reported.
    enum class Tool { InternalTest = 1, Replay = 2 };

    // Frames go out on serial and usb through session; reports go into workDir (or the user's own
    // folder when that takes none).
    TimingPanel(
        QMainWindow *window, Session *session, Link *serial, Link *usb, const QString &workDir);
    ~TimingPanel() override;

    // The encoding a cache store's text is read in.
    void setStoreEncoding(int encodingIndex);
    void startRun(Tool tool);
    // cause: a note put before the report's own; said alone when no run is left to report.
    void endRun(Tool tool, const QString &cause = {});
    // Ends every run (the window closes): the report holds what is still waiting as unfinished.
    void endAllRuns();
    // The rows kept and the counts so far; folder empty: beside LOG.txt.
    void save(const QString &folder = {});
    void clear();

signals:
    // A note for the status bar.
    void notice(const QString &text);

private:
    std::unique_ptr<TransactionModel> makeModel() const;
    TimingView *view();
    void place();
    void feedView();
    void startRunReport();
    void finishRunReport(const QString &cause);
    void reportWritten(const SoakReport &report, const QString &summary, const QString &cause);

    QMainWindow *m_window;
    Session *m_session;
    Link *m_serial;
    Link *m_usb;
    QString m_workDir;
    int m_storeEncoding = 1;
    QDockWidget *m_dock = nullptr;
    TimingView *m_view = nullptr;
    bool m_placed = false;   // the dock found its first place
    std::unique_ptr<TransactionModel> m_model;
    std::unique_ptr<RunReport> m_run;   // a test tool's run in progress
    int m_tools = 0;   // the tools running, as bits of Tool
};
