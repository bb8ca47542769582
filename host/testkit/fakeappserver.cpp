#include "testkit/fakeappserver.h"

#include "net/netconnection.h"

#include <stdexcept>

namespace fis {

FakeAppServer::FakeAppServer(const QString &object) : m_object(object) {}

FakeAppServer::~FakeAppServer()
{
    stop();
}

void FakeAppServer::declare(const QString &method, const QList<RpcParam> &params)
{
    if (m_server)
        throw std::logic_error("FakeAppServer::declare after start");
    m_declared.insert(method, params);
}

QStringList FakeAppServer::methods() const
{
    return m_declared.keys();
}

void FakeAppServer::setUpstream(const QString &host, int port, const QString &token)
{
    m_upstreamHost = host;
    m_upstreamPort = port;
    m_upstreamToken = token;
}

bool FakeAppServer::start()
{
    if (m_server)
        return true;
    RpcServerOptions options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = 0;
    options.threads = 4;
    auto server = std::make_unique<RpcServer>(options);
    for (auto it = m_declared.cbegin(); it != m_declared.cend(); ++it) {
        const QString method = it.key();
        const QList<RpcParam> params = it.value();
        server->addMethod(m_object, method, params,
                          [this, method, params](QList<Variant> &args, const RpcContext &context) {
                              return handle(method, params, args, context.operatorName);
                          });
    }
    if (!server->start()) {
        m_error = server->errorString();
        return false;
    }
    m_server = std::move(server);
    return true;
}

void FakeAppServer::stop()
{
    if (m_server) {
        m_server->stop();
        m_server.reset();
    }
    std::lock_guard lock(m_upstreamMutex);
    m_upstream.reset();
}

int FakeAppServer::port() const
{
    return m_server ? m_server->port() : 0;
}

QString FakeAppServer::errorString() const
{
    return m_error;
}

void FakeAppServer::setDefaultAnswer(const QString &method, const Answer &answer)
{
    std::lock_guard lock(m_mutex);
    m_defaults.insert(method, answer);
}

void FakeAppServer::queueAnswer(const QString &method, const Answer &answer)
{
    std::lock_guard lock(m_mutex);
    m_queued[method].append(answer);
}

void FakeAppServer::clearAnswers(const QString &method)
{
    std::lock_guard lock(m_mutex);
    if (method.isEmpty()) {
        m_queued.clear();
        m_defaults.clear();
    } else {
        m_queued.remove(method);
        m_defaults.remove(method);
    }
}

QList<FakeAppServer::Call> FakeAppServer::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

int FakeAppServer::callCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_calls.size());
}

void FakeAppServer::clearCalls()
{
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

QStringList FakeAppServer::failures() const
{
    std::lock_guard lock(m_mutex);
    return m_failures;
}

QStringList FakeAppServer::takeFailures()
{
    std::lock_guard lock(m_mutex);
    QStringList out;
    out.swap(m_failures);
    return out;
}

void FakeAppServer::fail(const QString &text)
{
    {
        std::lock_guard lock(m_mutex);
        m_failures << text;
    }
    if (onFailure)
        onFailure(text);
}

Variant FakeAppServer::handle(const QString &method, const QList<RpcParam> &params,
                              QList<Variant> &args, const QString &operatorName)
{
    Answer answer;
    bool have = false;
    const QString progress = progressProbe ? progressProbe() : QString();
    {
        std::lock_guard lock(m_mutex);
        m_calls.append({method, args, progress});
        auto queued = m_queued.find(method);
        if (queued != m_queued.end() && !queued->isEmpty()) {
            answer = queued->takeFirst();
            have = true;
        } else if (m_defaults.contains(method)) {
            answer = m_defaults.value(method);
            have = true;
        }
    }
    if (!have) {
        if (m_upstreamPort > 0) {
            // One kept connection, as the module keeps its own; each call goes on with the
            // operator it came with, which the real server records.
            std::lock_guard lock(m_upstreamMutex);
            if (!m_upstream) {
                m_upstream = std::make_unique<TNetConnection>();
                m_upstream->setHost(m_upstreamHost);
                m_upstream->setPort(m_upstreamPort);
                m_upstream->setServerName(m_object);
                m_upstream->setAuthToken(m_upstreamToken);
                m_upstream->setThrowException(true);
            }
            m_upstream->setOperatorName(operatorName);
            QList<Variant *> refs;
            for (Variant &a : args)
                refs.append(&a);
            try {
                return m_upstream->call(method, refs);
            } catch (const ERemoteError &e) {
                throw std::runtime_error(e.message().toStdString());
            }
        }
        const QString text =
            QStringLiteral("O servidor de teste não tem resposta para %1.").arg(method);
        fail(QStringLiteral("remote call %1 with no answer given").arg(method));
        throw std::runtime_error(text.toStdString());
    }
    // Worked out from the arguments as they arrived, before any is written back.
    const Variant result = answer.resultOf ? answer.resultOf(args) : answer.result;
    for (auto it = answer.outputs.cbegin(); it != answer.outputs.cend(); ++it) {
        const int index = it.key() - 1;
        if (index < 0 || index >= args.size() || index >= params.size() || !params[index].byRef) {
            fail(QStringLiteral("%1: argument %2 is not passed by reference; it cannot be "
                                "written back")
                     .arg(method)
                     .arg(it.key()));
            continue;
        }
        args[index] = it.value();
    }
    if (answer.isError)
        throw std::runtime_error(answer.errorText.toStdString());
    return result;
}

} // namespace fis
