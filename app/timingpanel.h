#pragma once

#include <QObject>
#include <QString>

#include <memory>

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

    // The frames and answers are session's; reports go into workDir (or the user's own folder
    // when that takes none).
    TimingPanel(QMainWindow *window, Session *session, const QString &workDir);
    ~TimingPanel() override;

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
    TransactionModel &model() const;
    TimingView *view();
    void place();
    void feedView();
    void startRunReport();
    void finishRunReport(const QString &cause);
    void reportWritten(const SoakReport &report, const QString &summary, const QString &cause);

    QMainWindow *m_window;
    Session *m_session;
    QString m_workDir;
    QDockWidget *m_dock = nullptr;
    TimingView *m_view = nullptr;
    bool m_placed = false;   // the dock found its first place
    std::unique_ptr<RunReport> m_run;   // a test tool's run in progress
    int m_tools = 0;   // the tools running, as bits of Tool
};
