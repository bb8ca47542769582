#pragma once
// The recording side of a run: the HostUi that records the messages and windows the module asks
// for and answers them from queues, the application server (the fake one, or a recorder in front
// of a real one) that records every remote call, and the modal dialogs that opened. A checkpoint
// says how far each record had come, so that expectations can look at what happened since.
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

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
    const QStringList &dialogs() const { return m_dialogs; }

    Checkpoint checkpoint(int line) const;
    // What happened since the checkpoint (messages, calls, dialogs) that no transcript line has
    // told yet, one line each; each is told once.
    QStringList untoldSince(const Checkpoint &since);

private:
    std::unique_ptr<RecordingHostUi> m_ui;
    std::unique_ptr<FakeAppServer> m_server;
    QStringList m_dialogs; // objectNames of the modal dialogs that opened, in order
    QSet<int> m_toldMessages;
    QSet<int> m_toldCalls;
    QSet<int> m_toldDialogs;
};

} // namespace fis::scenario
