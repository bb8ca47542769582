#pragma once
// A fake application server for tests and scripts, on the real server framing (fis::RpcServer,
// loopback, a free port): it records every call (method and arguments by position) and answers
// from what the test gave per method: answers queued for one call each, then the method's
// default answer. An answer is a result (packet, text, array...), by-reference outputs written
// back to the caller's variables, or an error. A call with no answer is answered with an error
// and reported as a failure. Optionally it forwards unanswered calls to a real server instead,
// so that a script against a real server still records what was called.
#include "data/variant.h"
#include "net/rpcserver.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class TNetConnection;

namespace fis {

class FakeAppServer
{
public:
    struct Call
    {
        QString method;
        QList<Variant> args; // as they arrived, by position (0-based in the list)
        QString progress;    // what progressProbe said while the caller waited
    };

    struct Answer
    {
        Variant result;
        QMap<int, Variant> outputs; // 1-based argument position -> value written back
        bool isError = false;
        QString errorText;
        // When set, the result is worked out from the call's arguments (on a server thread).
        std::function<Variant(const QList<Variant> &args)> resultOf;

        static Answer value(const Variant &v) { return {v, {}, false, {}, {}}; }
        static Answer error(const QString &text) { return {{}, {}, true, text, {}}; }
    };

    explicit FakeAppServer(const QString &object = QStringLiteral("Fis02900.rdmEmisGuiaPrv"));
    ~FakeAppServer();
    FakeAppServer(const FakeAppServer &) = delete;
    FakeAppServer &operator=(const FakeAppServer &) = delete;

    // Declares a method: its parameters (kinds and by-reference positions). Before start().
    void declare(const QString &method, const QList<RpcParam> &params);
    QStringList methods() const;

    // Forward calls that have no answer of their own to this server (host, port) instead of
    // failing them. Before start().
    void setUpstream(const QString &host, int port, const QString &token = QString());

    bool start(); // loopback, free port
    void stop();
    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const;
    QString object() const { return m_object; }
    QString errorString() const;

    // Answers. Positions in outputs are 1-based, as the method tables count them.
    void setDefaultAnswer(const QString &method, const Answer &answer);
    void queueAnswer(const QString &method, const Answer &answer);
    void clearAnswers(const QString &method = QString());

    // Recorded calls, oldest first (a copy: the server records from its own threads).
    QList<Call> calls() const;
    int callCount() const;
    void clearCalls();
    QStringList failures() const;
    QStringList takeFailures();

    // Called (on the server's thread) for every failure: a call with no answer, an output
    // position that the method does not have.
    std::function<void(const QString &)> onFailure;
    // Asked (on the server's thread) as each call arrives, e.g. for the text of the caller's
    // progress window: recorded with the call. Set before start().
    std::function<QString()> progressProbe;

private:
    Variant handle(const QString &method, const QList<RpcParam> &params, QList<Variant> &args,
                   const QString &operatorName);
    void fail(const QString &text);

    QString m_object;
    QMap<QString, QList<RpcParam>> m_declared;
    std::unique_ptr<RpcServer> m_server;
    mutable std::mutex m_mutex;
    QMap<QString, QList<Answer>> m_queued;
    QMap<QString, Answer> m_defaults;
    QList<Call> m_calls;
    QStringList m_failures;
    QString m_upstreamHost;
    int m_upstreamPort = 0;
    QString m_upstreamToken;
    std::mutex m_upstreamMutex;
    std::unique_ptr<TNetConnection> m_upstream;
    QString m_error;
};

} // namespace fis
