#include "rpcserver.h"

#include <QDir>
#include <QHash>
#include <QtDebug>

#include <httplib.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace fis {

namespace {

thread_local int t_workerIndex = -1;

// The worker threads of the listener: httplib's thread pool, except that every worker knows its
// index and runs the start/stop hooks on its own thread.
class WorkerPool : public httplib::TaskQueue
{
public:
    WorkerPool(int count, std::function<void(int)> onStart, std::function<void(int)> onStop)
        : m_onStart(std::move(onStart)), m_onStop(std::move(onStop))
    {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this, i] { run(i); });
    }

    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(fn));
        }
        m_cond.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_shutdown = true;
        }
        m_cond.notify_all();
        for (auto &t : m_threads)
            t.join();
    }

private:
    static void runHook(const std::function<void(int)> &hook, int index, const char *which)
    {
        if (!hook)
            return;
        try {
            hook(index);
        } catch (const std::exception &e) {
            qWarning("rpc worker %d: %s hook failed: %s", index, which, e.what());
        } catch (...) {
            qWarning("rpc worker %d: %s hook failed", index, which);
        }
    }

    void run(int index)
    {
        t_workerIndex = index;
        runHook(m_onStart, index, "start");
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(m_mutex);
                m_cond.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
                if (m_jobs.empty())
                    break;
                fn = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            fn();
        }
        runHook(m_onStop, index, "stop");
        t_workerIndex = -1;
    }

    std::function<void(int)> m_onStart, m_onStop;
    std::vector<std::thread> m_threads;
    std::deque<std::function<void()>> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_shutdown = false;
};

struct Method
{
    QList<RpcParam> params;
    RpcHandler handler;
};

// Checks one argument against its declared kind; a null becomes the kind's empty value.
bool conform(Variant &arg, ArgKind kind)
{
    const VariantKind actual = kindOf(arg);
    if (kind == ArgKind::Any)
        return actual != VariantKind::Invalid;
    if (actual == VariantKind::Null) {
        switch (kind) {
        case ArgKind::Text:
            arg = Variant(QString());
            break;
        case ArgKind::Float:
            arg = Variant(0.0);
            break;
        case ArgKind::Date:
            arg = makeDate(TDateTime());
            break;
        case ArgKind::Packet:
            arg = makePacket(DataPacket());
            break;
        case ArgKind::Array:
            arg = Variant(QVariantList());
            break;
        case ArgKind::Any:
            break;
        }
        return true;
    }
    switch (kind) {
    case ArgKind::Text:
        return actual == VariantKind::Text;
    case ArgKind::Float:
        return actual == VariantKind::Float;
    case ArgKind::Date:
        return actual == VariantKind::Date;
    case ArgKind::Packet:
        return actual == VariantKind::Packet;
    case ArgKind::Array:
        return actual == VariantKind::Array;
    case ArgKind::Any:
        break;
    }
    return true;
}

std::string encodeFailure(const QString &message)
{
    const QByteArray bytes = encodeResponse(RpcResponse::failure(message));
    return bytes.toStdString();
}

QString httpReason(int status)
{
    switch (status) {
    case 404:
        return QStringLiteral("caminho desconhecido (esperado %1<objeto>)")
            .arg(QLatin1String(kRpcPathPrefix));
    case 405:
        return QStringLiteral("método HTTP não aceito (use POST)");
    case 413:
        return QStringLiteral("pedido grande demais");
    case 414:
        return QStringLiteral("endereço grande demais");
    default:
        return QStringLiteral("pedido HTTP inválido (%1)").arg(status);
    }
}

bool sameToken(const QByteArray &expected, const std::string &given)
{
    // Compared in full whatever the first difference, so that timing tells nothing.
    const QByteArray wanted = QByteArrayLiteral("Bearer ") + expected;
    unsigned diff = unsigned(wanted.size() ^ qsizetype(given.size()));
    for (qsizetype i = 0; i < wanted.size(); ++i)
        diff |=
            unsigned(uchar(wanted[i]) ^ uchar(i < qsizetype(given.size()) ? given[size_t(i)] : 0));
    return diff == 0;
}

// The sockets the listener accepted on the given port that are still open in this process.
std::vector<int> acceptedSockets(int port)
{
    std::vector<int> fds;
    const QStringList entries =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &entry : entries) {
        bool ok = false;
        const int fd = entry.toInt(&ok);
        if (!ok)
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLen = sizeof local, peerLen = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLen) != 0)
            continue;
        if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0)
            continue; // the listening socket, or not connected
        int localPort = -1;
        if (local.ss_family == AF_INET)
            localPort = ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
        else if (local.ss_family == AF_INET6)
            localPort = ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
        if (localPort == port)
            fds.push_back(fd);
    }
    return fds;
}

} // namespace

QString argKindName(ArgKind kind)
{
    switch (kind) {
    case ArgKind::Any:
        return QStringLiteral("qualquer valor");
    case ArgKind::Text:
        return kindName(VariantKind::Text);
    case ArgKind::Float:
        return kindName(VariantKind::Float);
    case ArgKind::Date:
        return kindName(VariantKind::Date);
    case ArgKind::Packet:
        return kindName(VariantKind::Packet);
    case ArgKind::Array:
        return kindName(VariantKind::Array);
    }
    return QString();
}

struct RpcServer::Impl
{
    RpcServerOptions options;
    QHash<QString, QHash<QString, Method>> objects;

    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    std::atomic<bool> listenerDone{false};
    int port = 0;
    QString error;

    std::mutex flightMutex;
    std::condition_variable flightDone;
    int inFlight = 0;

    void log(const RpcCallLog &entry) const
    {
        if (!options.onCall)
            return;
        try {
            options.onCall(entry);
        } catch (...) {
            qWarning("rpc: the call log hook threw");
        }
    }

    void serve(const httplib::Request &req, httplib::Response &res, const RpcServer &server);
    void answerHttpError(const httplib::Request &req, httplib::Response &res) const;
};

RpcServer::RpcServer(RpcServerOptions options) : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
}

RpcServer::~RpcServer()
{
    stop();
}

void RpcServer::addMethod(const QString &object, const QString &method, QList<RpcParam> params,
                          RpcHandler handler)
{
    if (d->running)
        throw std::logic_error("RpcServer::addMethod after start()");
    if (params.size() > kRpcMaxArgs)
        throw std::invalid_argument("RpcServer::addMethod: too many parameters");
    d->objects[object].insert(method, Method{std::move(params), std::move(handler)});
}

RpcAnswer RpcServer::handle(const QString &object, const QByteArray &body, int threadIndex,
                            const QString &peer) const
{
    const auto started = std::chrono::steady_clock::now();
    RpcCallLog entry;
    entry.object = object;
    entry.threadIndex = threadIndex;
    entry.peer = peer;

    auto finish = [&](int status, RpcOutcome outcome, const RpcResponse &response,
                      QByteArray encoded = {}) {
        RpcAnswer answer;
        answer.status = status;
        answer.body = encoded.isEmpty() ? encodeResponse(response) : encoded;
        entry.outcome = outcome;
        entry.error = response.ok ? QString() : response.error;
        entry.duration = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started);
        d->log(entry);
        return answer;
    };
    auto reject = [&](int status, const QString &message) {
        return finish(status, RpcOutcome::Rejected, RpcResponse::failure(message));
    };

    RpcRequest request;
    QString why;
    if (!decodeRequest(body, &request, &why))
        return reject(400, QStringLiteral("Pedido inválido: %1.").arg(why));
    entry.method = request.method;

    const auto obj = d->objects.constFind(object);
    if (obj == d->objects.cend())
        return reject(404, QStringLiteral("Objeto de servidor desconhecido: %1.").arg(object));
    const auto found = obj->constFind(request.method);
    if (found == obj->cend())
        return reject(404,
                      QStringLiteral("Método desconhecido: %1.%2.").arg(object, request.method));
    const Method &method = *found;

    if (request.args.size() != method.params.size())
        return reject(400, QStringLiteral("O método %1 espera %2 argumento(s), mas recebeu %3.")
                               .arg(request.method)
                               .arg(method.params.size())
                               .arg(request.args.size()));
    for (qsizetype i = 0; i < request.args.size(); ++i) {
        const ArgKind expected = method.params[i].kind;
        const VariantKind actual = kindOf(request.args[i]);
        if (!conform(request.args[i], expected))
            return reject(400,
                          QStringLiteral("Argumento %1 do método %2: esperado %3, recebido %4.")
                              .arg(i + 1)
                              .arg(request.method, argKindName(expected), kindName(actual)));
    }

    const RpcContext context{object, request.method, threadIndex, peer};
    auto failed = [&](const QString &message) {
        return finish(200, RpcOutcome::Failed, RpcResponse::failure(message));
    };
    RpcResponse response;
    try {
        response.result = method.handler(request.args, context);
    } catch (const std::exception &e) {
        const QString message = QString::fromUtf8(e.what());
        return failed(message.isEmpty() ? QStringLiteral("Erro no método %1.").arg(request.method)
                                        : message);
    } catch (...) {
        return failed(QStringLiteral("Erro desconhecido no método %1.").arg(request.method));
    }
    response.result = normalized(response.result);
    for (qsizetype i = 0; i < method.params.size(); ++i) {
        if (method.params[i].byRef)
            response.out.insert(int(i), normalized(request.args[i]));
    }
    // Encoded here so that a value of an unsupported type fails this call, not the server.
    QByteArray encoded;
    try {
        encoded = encodeResponse(response);
    } catch (const std::invalid_argument &) {
        return failed(QStringLiteral("O método %1 devolveu um valor de tipo não suportado.")
                          .arg(request.method));
    }
    return finish(200, RpcOutcome::Ok, response, encoded);
}

void RpcServer::Impl::serve(const httplib::Request &req, httplib::Response &res,
                            const RpcServer &server)
{
    {
        std::lock_guard lock(flightMutex);
        ++inFlight;
    }
    struct Leave
    {
        Impl *impl;
        ~Leave()
        {
            std::lock_guard lock(impl->flightMutex);
            if (--impl->inFlight == 0)
                impl->flightDone.notify_all();
        }
    } leave{this};

    const QString object = QString::fromStdString(req.matches[1].str());
    const QString peer =
        QStringLiteral("%1:%2").arg(QString::fromStdString(req.remote_addr)).arg(req.remote_port);
    auto refuse = [&](int status, const QString &message) {
        res.status = status;
        res.set_content(encodeFailure(message), kRpcContentType);
        RpcCallLog entry;
        entry.object = object;
        entry.outcome = RpcOutcome::Rejected;
        entry.error = message;
        entry.threadIndex = t_workerIndex;
        entry.peer = peer;
        log(entry);
    };

    if (stopping) {
        res.set_header("Connection", "close");
        return refuse(503, QStringLiteral("O servidor de aplicação está sendo encerrado."));
    }
    if (!options.token.isEmpty() && !sameToken(options.token, req.get_header_value(kRpcAuthHeader)))
        return refuse(401, QStringLiteral("Acesso negado: credencial ausente ou inválida."));
    const std::string type = req.get_header_value("Content-Type");
    if (type.substr(0, type.find(';')) != kRpcContentType)
        return refuse(415, QStringLiteral("Tipo de conteúdo não suportado: \"%1\" (esperado %2).")
                               .arg(QString::fromStdString(type), QLatin1String(kRpcContentType)));

    const RpcAnswer answer =
        server.handle(object, QByteArray::fromRawData(req.body.data(), qsizetype(req.body.size())),
                      t_workerIndex, peer);
    res.status = answer.status;
    res.set_content(answer.body.constData(), size_t(answer.body.size()), kRpcContentType);
}

void RpcServer::Impl::answerHttpError(const httplib::Request &req, httplib::Response &res) const
{
    const QString message = QStringLiteral("Pedido recusado: %1.").arg(httpReason(res.status));
    res.set_content(encodeFailure(message), kRpcContentType);
    RpcCallLog entry;
    entry.object = QString::fromStdString(req.path);
    entry.outcome = RpcOutcome::Rejected;
    entry.error = message;
    entry.threadIndex = t_workerIndex;
    entry.peer =
        QStringLiteral("%1:%2").arg(QString::fromStdString(req.remote_addr)).arg(req.remote_port);
    log(entry);
}

bool RpcServer::start()
{
    if (d->running)
        return true;
    d->error.clear();
    d->stopping = false;
    d->http = std::make_unique<httplib::Server>();
    httplib::Server &http = *d->http;

    const RpcServerOptions &o = d->options;
    const int threads = std::max(1, o.threads);
    http.new_task_queue = [threads, start = o.onThreadStart, stop = o.onThreadStop] {
        return new WorkerPool(threads, start, stop);
    };
    http.set_tcp_nodelay(true);
    // httplib's default shares the port (SO_REUSEPORT): a second server on a busy port would start
    // and silently take half the calls. Only the restart after TIME_WAIT is allowed here.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_keep_alive_max_count(std::numeric_limits<int>::max());
    http.set_keep_alive_timeout(std::max(1, o.keepAliveSeconds));
    http.set_read_timeout(std::max(1, o.readTimeoutSeconds), 0);
    http.set_payload_max_length(size_t(std::max<qint64>(0, o.maxBodyBytes)));

    const std::string pattern = std::string(kRpcPathPrefix) + "([^/]+)";
    http.Post(pattern, [this](const httplib::Request &req, httplib::Response &res) {
        d->serve(req, res, *this);
    });
    http.Get(pattern, [](const httplib::Request &, httplib::Response &res) { res.status = 405; });
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [this](const httplib::Request &req, httplib::Response &res) {
            // Our own refusals already carry their answer; everything else httplib refused (size,
            // path, HTTP method) gets one too.
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            d->answerHttpError(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }));
    http.set_exception_handler(
        [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
            res.status = 500;
            res.set_content(encodeFailure(QStringLiteral("Erro interno do servidor de aplicação.")),
                            kRpcContentType);
        });

    const std::string host = o.host.toStdString();
    int bound = 0;
    if (o.port == 0) {
        bound = http.bind_to_any_port(host);
        if (bound <= 0)
            bound = 0;
    } else if (http.bind_to_port(host, o.port)) {
        bound = o.port;
    }
    if (bound == 0) {
        d->error =
            QStringLiteral("Não foi possível abrir a porta %1 em %2.")
                .arg(o.port == 0 ? QStringLiteral("livre") : QString::number(o.port), o.host);
        d->http.reset();
        return false;
    }
    d->port = bound;
    d->running = true;
    d->listenerDone = false;
    d->listener = std::thread([this, &http] {
        http.listen_after_bind();
        d->listenerDone = true;
    });
    // httplib's stop() does nothing until the listening loop has begun: wait for it, so that a
    // stop() right after start() cannot be lost.
    while (!http.is_running() && !d->listenerDone)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    return true;
}

void RpcServer::stop()
{
    if (!d->running)
        return;
    d->stopping = true;
    d->http->stop(); // no more connections accepted
    {
        // Calls under way end normally...
        std::unique_lock lock(d->flightMutex);
        d->flightDone.wait(lock, [this] { return d->inFlight == 0; });
    }
    // ...then the idle persistent connections are cut, so that their workers need not wait for
    // the keep-alive time to end.
    for (int fd : acceptedSockets(d->port))
        ::shutdown(fd, SHUT_RDWR);
    if (d->listener.joinable())
        d->listener.join();
    d->http.reset();
    d->running = false;
    d->port = 0;
}

bool RpcServer::isRunning() const
{
    return d->running;
}

int RpcServer::port() const
{
    return d->port;
}

QString RpcServer::errorString() const
{
    return d->error;
}

} // namespace fis
