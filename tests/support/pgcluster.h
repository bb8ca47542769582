#pragma once
// A throw-away PostgreSQL 15 cluster on loopback for the tests that need a real server.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace fis::test {

inline int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// A PostgreSQL 15 cluster in a temporary directory, trust authentication on 127.0.0.1, owner
// role "fis". As root the cluster runs as the "postgres" user.
class PgCluster
{
public:
    static constexpr const char *kBin = "/usr/lib/postgresql/15/bin";

    bool start()
    {
        if (!QFile::exists(QStringLiteral("%1/initdb").arg(QLatin1String(kBin)))) {
            m_error = QStringLiteral("PostgreSQL 15 não instalado (%1)").arg(QLatin1String(kBin));
            return false;
        }
        m_base =
            std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("fis-pg-XXXXXX")));
        if (!m_base->isValid())
            return fail(QStringLiteral("diretório temporário"));
        if (::geteuid() == 0) {
            const passwd *pw = ::getpwnam("postgres");
            if (!pw)
                return fail(QStringLiteral("como root é preciso o usuário postgres"));
            if (::chown(QFile::encodeName(m_base->path()).constData(), pw->pw_uid, pw->pw_gid) != 0)
                return fail(QStringLiteral("chown do diretório temporário"));
            m_runAs = QStringLiteral("postgres");
        }
        m_port = freeLoopbackPort();
        const QString data = m_base->filePath(QStringLiteral("data"));
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("fis"),
                  QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--no-sync"),
                  QStringLiteral("--locale=C")}))
            return false;
        const QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                           "-c max_connections=100")
                .arg(m_port)
                .arg(m_base->path());
        if (!run(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
                  m_base->filePath(QStringLiteral("pg.log")), QStringLiteral("-w"),
                  QStringLiteral("start")}))
            return false;
        m_running = true;
        return true;
    }
    void stop()
    {
        if (m_running)
            run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), m_base->filePath(QStringLiteral("data")),
                 QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")});
        m_running = false;
    }
    ~PgCluster() { stop(); }
    // A fast restart: every open session is ended, as when the database server is restarted.
    bool restart()
    {
        return run(QStringLiteral("pg_ctl"),
                   {QStringLiteral("-D"), m_base->filePath(QStringLiteral("data")),
                    QStringLiteral("-l"), m_base->filePath(QStringLiteral("pg.log")),
                    QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"),
                    QStringLiteral("restart")});
    }

    bool createDatabase(const QString &name)
    {
        return run(QStringLiteral("createdb"),
                   {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                    QString::number(m_port), QStringLiteral("-U"), QStringLiteral("fis"), name});
    }
    QString url(const QString &db) const
    {
        return QStringLiteral("postgresql://fis@127.0.0.1:%1/%2").arg(m_port).arg(db);
    }
    QString error() const { return m_error; }

private:
    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }
    bool run(const QString &tool, const QStringList &args)
    {
        QProcess p;
        const QString exe = QStringLiteral("%1/%2").arg(QLatin1String(kBin), tool);
        if (m_runAs.isEmpty()) {
            p.start(exe, args);
        } else {
            p.start(QStringLiteral("runuser"),
                    QStringList{QStringLiteral("-u"), m_runAs, QStringLiteral("--"), exe} + args);
        }
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return fail(QStringLiteral("%1 falhou: %2%3")
                            .arg(tool, QString::fromLocal8Bit(p.readAllStandardError()),
                                 QString::fromLocal8Bit(p.readAllStandardOutput())));
        return true;
    }

    std::unique_ptr<QTemporaryDir> m_base;
    QString m_runAs, m_error;
    int m_port = 0;
    bool m_running = false;
};

} // namespace fis::test
