#pragma once
// Runs fis-appserver as a child process (the PostgreSQL cluster for it: support/pgcluster.h).
#include "database.h"
#include "support/pgcluster.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

#include <memory>

namespace fis::test {

class ServerProcess
{
public:
    ~ServerProcess() { kill(); }

    // Starts the server on a free loopback port; false (and error()) when it does not come up.
    bool start(const QString &database, const QStringList &extra = {})
    {
        m_log = QDir::temp().filePath(
            QStringLiteral("fis-appserver-test-%1-%2.log").arg(::getpid()).arg(++serial()));
        m_process = std::make_unique<QProcess>();
        m_process->setProgram(QStringLiteral(FIS_APPSERVER_EXE));
        m_process->setArguments(QStringList{QStringLiteral("--listen"),
                                            QStringLiteral("127.0.0.1:0"),
                                            QStringLiteral("--database"), database,
                                            QStringLiteral("--threads"), QStringLiteral("8")} +
                                extra);
        m_process->setStandardErrorFile(m_log);
        m_process->start();
        QByteArray out;
        static const QRegularExpression re(QStringLiteral("listening on \\S+:(\\d+)"));
        for (int i = 0; i < 300 && m_process->state() != QProcess::NotRunning; ++i) {
            m_process->waitForReadyRead(100);
            out += m_process->readAllStandardOutput();
            const auto m = re.match(QString::fromUtf8(out));
            if (m.hasMatch()) {
                m_port = m.captured(1).toInt();
                return true;
            }
        }
        m_error = QString::fromUtf8(out) + log();
        kill();
        return false;
    }
    int port() const { return m_port; }
    QString error() const { return m_error; }
    QString log() const
    {
        QFile f(m_log);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    qint64 pid() const { return m_process ? m_process->processId() : 0; }

    void kill()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(10000);
        }
    }
    // SIGTERM; the exit code, or -1 when it did not stop in time.
    int terminate()
    {
        m_process->terminate();
        if (!m_process->waitForFinished(15000))
            return -1;
        return m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -2;
    }

private:
    static int &serial()
    {
        static int s = 0;
        return s;
    }
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QString m_log, m_error;
};

} // namespace fis::test
