#pragma once
// The recording side of a run: the HostUi that records the messages and windows the module asks
// for and answers them from queues, the application server (the fake one, or a recorder in front
// of a real one) that records every remote call, the modal dialogs that opened, and the reports:
// the file names asked for (answered from a queue) and the pages of every output. A checkpoint
// says how far each record had come, so that expectations can look at what happened since.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace fis {
class FakeAppServer;
class RecordingHostUi;
} // namespace fis

namespace fis::scenario {

struct Checkpoint
{
    int line = 0; // the action's line
    int messages = 0;
    int calls = 0;
    int requests = 0; // pick, find and integration windows
    int dialogs = 0;
    int outputs = 0; // report outputs and file-name questions
};

// One output of a report: "print", "pdf" (file: the PDF written) or "preview", with the text of
// each page; or a file-name question (kind "file": file the answer, empty when cancelled).
struct ReportOutput
{
    QString kind;
    QString file;
    QString caption; // of the file-name question
    QStringList pages;
};

class Recorder
{
public:
    Recorder();
    ~Recorder();

    // Installs the HostUi and starts the server: the fake one, or with upstream ("host:port") a
    // recorder that forwards every call without a scripted answer to the real one.
    bool start(const QString &upstream, const QString &token, QString *error);
    void stop();

    RecordingHostUi &ui() { return *m_ui; }
    FakeAppServer &server() { return *m_server; }

    void dialogOpened(const QString &name) { m_dialogs.append(name); }

    // The answer to the next file-name question (print to PDF, save as); empty = cancel. A
    // question with no answer queued is a failure (told through the HostUi's onFailure).
    void queueFileAnswer(const QString &file) { m_fileAnswers.append(file); }
    const QList<ReportOutput> &reportOutputs() const { return m_outputs; }
    // The last output of a report (no file-name question); null when none came yet.
    const ReportOutput *lastReportOutput() const;
    const QStringList &dialogs() const { return m_dialogs; }

    Checkpoint checkpoint(int line) const;
    // What happened since the checkpoint (messages, calls, dialogs) that no transcript line has
    // told yet, one line each; each is told once.
    QStringList untoldSince(const Checkpoint &since);

private:
    // Answers the file-name questions of the report screens and records their outputs.
    void watchReports();

    std::unique_ptr<RecordingHostUi> m_ui;
    std::unique_ptr<FakeAppServer> m_server;
    QStringList m_dialogs; // objectNames of the modal dialogs that opened, in order
    QStringList m_fileAnswers;
    QList<ReportOutput> m_outputs;
    QSet<int> m_toldOutputs;
    std::function<QString(QWidget *, const QString &, const QString &)> m_previousChooser;
    bool m_watchingReports = false;
    QSet<int> m_toldMessages;
    QSet<int> m_toldCalls;
    QSet<int> m_toldDialogs;
};

} // namespace fis::scenario
