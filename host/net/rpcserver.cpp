#include "rpcserver.h"

#include "data/packet.h"
#include "net/httplistener.h"
#include "net/rpcargs.h"

#include <QHash>
#include <QtDebug>

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>

namespace fis {

namespace {

thread_local int t_workerIndex = -1;

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

QString httpReason(int status)
{
    switch (status) {
    case 404:
        return QStringLiteral("caminho desconhecido (esperado %1<objeto>)")
            .arg(QLatin1String(kRpcPathPrefix));
    case 405:
        return QStringLiteral("método HTTP não aceito (use POST)");
    default:
        return QStringLiteral("pedido HTTP inválido (%1)").arg(status);
    }
}

bool sameToken(const QByteArray &expected, const QByteArray &given)
{
    // Compared in full whatever the first difference, so that timing tells nothing.
    const QByteArray wanted = QByteArrayLiteral("Bearer ") + expected;
    unsigned diff = unsigned(wanted.size() ^ given.size());
    for (qsizetype i = 0; i < wanted.size(); ++i)
        diff |= unsigned(uchar(wanted[i]) ^ uchar(i < given.size() ? given[i] : 0));
    return diff == 0;
}

HttpResponse cborAnswer(int status, const QByteArray &body, bool close = false)
{
    HttpResponse r;
    r.status = status;
    r.contentType = kRpcContentType;
    r.body = body;
    r.close = close;
    return r;
}

// Runs f; empty when it returned, else the error text a failed call answers for what it threw.
template <class F>
QString failureOf(F &&f, const QString &method)
{
    try {
        f();
        return QString();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("Memória insuficiente no servidor de aplicação para o método %1.")
            .arg(method);
    } catch (const std::exception &e) {
        const QString message = QString::fromUtf8(e.what());
        return message.isEmpty() ? QStringLiteral("Erro no método %1.").arg(method) : message;
    } catch (...) {
        return QStringLiteral("Erro desconhecido no método %1.").arg(method);
    }
}

QString unsupportedResult(const QString &method)
{
    return QStringLiteral("O método %1 devolveu um valor de tipo não suportado.").arg(method);
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

    std::unique_ptr<HttpListener> listener;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    int port = 0;
    QString error;

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

    // A refusal before any worker is involved, logged like every answered request.
    HttpResponse refusal(int status, const QString &message, const QString &object,
                         const QString &peer, bool close = false) const
    {
        RpcCallLog entry;
        entry.object = object;
        entry.outcome = RpcOutcome::Rejected;
        entry.error = message;
        entry.peer = peer;
        log(entry);
        return cborAnswer(status, encodeResponse(RpcResponse::failure(message)), close);
    }

    // One call up to its answer: a whole one, or (when the caller can send it so) a packet
    // result whose rows are still to be read, with the rest of its answer.
    struct Call
    {
        RpcAnswer answer;
        std::shared_ptr<const PacketSource> rows; // set: the answer is sent while they are read
        QByteArray okTail;                        // then: its end when the rows are all read
        RpcCallLog entry;
        std::chrono::steady_clock::time_point started;
    };
    Call call(const QString &object, const QByteArray &body, int threadIndex, const QString &peer,
              bool mayStream) const;
    HttpResponse stream(Call &call, const HttpBodySink &send) const;

    HttpResponse serve(HttpRequest &&request, const QString &peer);
    HttpResponse health(const HttpRequest &request, const QString &peer) const;
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
    return d->call(object, body, threadIndex, peer, false).answer;
}

RpcServer::Impl::Call RpcServer::Impl::call(const QString &object, const QByteArray &body,
                                            int threadIndex, const QString &peer,
                                            bool mayStream) const
{
    Call call;
    call.started = std::chrono::steady_clock::now();
    RpcCallLog &entry = call.entry;
    entry.object = object;
    entry.threadIndex = threadIndex;
    entry.peer = peer;

    auto finish = [&](int status, RpcOutcome outcome, const RpcResponse &response,
                      QByteArray encoded = {}) {
        call.answer.status = status;
        call.answer.body = encoded.isEmpty() ? encodeResponse(response) : encoded;
        entry.outcome = outcome;
        entry.error = response.ok ? QString() : response.error;
        entry.duration = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - call.started);
        log(entry);
        return std::move(call);
    };
    auto reject = [&](int status, const QString &message) {
        return finish(status, RpcOutcome::Rejected, RpcResponse::failure(message));
    };

    RpcRequest request;
    QString why;
    if (!decodeRequest(body, &request, &why))
        return reject(400, QStringLiteral("Pedido inválido: %1.").arg(why));
    entry.method = request.method;
    entry.operatorName = request.operatorName;

    const auto obj = objects.constFind(object);
    if (obj == objects.cend())
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
        if (!checkArgument(request.args[i], &why))
            return reject(400, QStringLiteral("Argumento %1 do método %2: %3.")
                                   .arg(i + 1)
                                   .arg(request.method, why));
    }
    if (!checkText(request.operatorName, &why))
        return reject(400, QStringLiteral("Operador do pedido inválido: %1.").arg(why));

    const RpcContext context{object, request.method, threadIndex, peer, request.operatorName};
    auto failed = [&](const QString &message) {
        return finish(200, RpcOutcome::Failed, RpcResponse::failure(message));
    };
    RpcResponse response;
    QString error =
        failureOf([&] { response.result = method.handler(request.args, context); }, request.method);
    if (!error.isEmpty())
        return failed(error);
    response.result = normalized(response.result);
    for (qsizetype i = 0; i < method.params.size(); ++i) {
        if (method.params[i].byRef)
            response.out.insert(int(i), normalized(request.args[i]));
    }
    const DataPacket packet = kindOf(response.result) == VariantKind::Packet
                                  ? response.result.value<DataPacket>()
                                  : DataPacket();
    // Encoded here so that a value of an unsupported type fails this call, not the server.
    try {
        if (mayStream && packet.source) {
            call.okTail = encodeStreamedTail(response);
            call.rows = packet.source;
            return call; // logged once it is sent
        }
    } catch (const std::invalid_argument &) {
        return failed(unsupportedResult(request.method));
    }
    // Rows still to be read are read now, failing the call as the handler would.
    if (packet.source) {
        error = failureOf([&] { response.result = makePacket(DataPacket(packet.encoded())); },
                          request.method);
        if (!error.isEmpty())
            return failed(error);
    }
    QByteArray encoded;
    try {
        encoded = encodeResponse(response);
    } catch (const std::invalid_argument &) {
        return failed(unsupportedResult(request.method));
    }
    return finish(200, RpcOutcome::Ok, response, encoded);
}

// Right after the call, on its worker thread: the packet's pieces go out as its rows are read.
HttpResponse RpcServer::Impl::stream(Call &call, const HttpBodySink &send) const
{
    RpcCallLog &entry = call.entry;
    bool begun = false;
    bool gone = false;
    QByteArray head;
    const auto sink = [&](QByteArrayView piece) {
        head = begun ? QByteArray() : encodeStreamedHead();
        begun = true;
        head += encodePieceHead(piece.size());
        const QByteArrayView parts[] = {head, piece};
        if (!send(parts)) {
            gone = true;
            throw std::runtime_error("client gone");
        }
    };
    QString error = failureOf(
        [&] {
            PacketWriter writer(call.rows->fields(), sink);
            call.rows->writeRows(writer);
            writer.finish();
        },
        entry.method);
    HttpResponse whole;
    if (!begun) {
        // Failed before its first piece: answered as any failed call.
        whole = cborAnswer(200, encodeResponse(RpcResponse::failure(error)));
    } else if (!gone) {
        const QByteArray tail =
            error.isEmpty() ? call.okTail : encodeStreamedTail(RpcResponse::failure(error));
        const QByteArrayView parts[] = {tail};
        gone = !send(parts);
    }
    if (gone)
        error = QStringLiteral("A conexão com o cliente caiu durante a resposta.");
    entry.outcome = error.isEmpty() ? RpcOutcome::Ok : RpcOutcome::Failed;
    entry.error = error;
    entry.duration = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - call.started);
    log(entry);
    return whole;
}

// On a worker thread, with the whole request read.
HttpResponse RpcServer::Impl::serve(HttpRequest &&request, const QString &peer)
{
    if (request.path == "/health")
        return health(request, peer);
    const QByteArray prefix(kRpcPathPrefix);
    const QString object = QString::fromUtf8(request.path.mid(prefix.size()));
    if (!request.path.startsWith(prefix) || object.isEmpty() || object.contains(u'/'))
        return refusal(404, QStringLiteral("Pedido recusado: %1.").arg(httpReason(404)),
                       QString::fromUtf8(request.path), peer);
    if (request.method != "POST")
        return refusal(405, QStringLiteral("Pedido recusado: %1.").arg(httpReason(405)), object,
                       peer);
    if (stopping)
        return refusal(503, QStringLiteral("O servidor de aplicação está sendo encerrado."), object,
                       peer, true);
    if (!options.token.isEmpty() && !sameToken(options.token, request.header("authorization")))
        return refusal(401, QStringLiteral("Acesso negado: credencial ausente ou inválida."),
                       object, peer);
    const QByteArray type = request.header("content-type");
    const qsizetype semicolon = type.indexOf(';');
    if ((semicolon < 0 ? type : type.left(semicolon)).trimmed() != kRpcContentType)
        return refusal(415,
                       QStringLiteral("Tipo de conteúdo não suportado: \"%1\" (esperado %2).")
                           .arg(QString::fromUtf8(type), QLatin1String(kRpcContentType)),
                       object, peer);
    auto prepared = std::make_shared<Call>(call(object, request.body, t_workerIndex, peer, true));
    HttpResponse answer = cborAnswer(prepared->answer.status, prepared->answer.body);
    if (prepared->rows)
        answer.stream = [this, prepared](const HttpBodySink &send) {
            return stream(*prepared, send);
        };
    return answer;
}

HttpResponse RpcServer::Impl::health(const HttpRequest &request, const QString &peer) const
{
    if (request.method != "GET")
        return refusal(405, QStringLiteral("Pedido recusado: use GET em /health."),
                       QStringLiteral("/health"), peer);
    QString why;
    try {
        if (options.healthCheck)
            why = options.healthCheck(t_workerIndex);
    } catch (const std::exception &e) {
        why = QString::fromUtf8(e.what());
    }
    HttpResponse r;
    r.status = why.isEmpty() ? 200 : 503;
    r.contentType = "text/plain; charset=utf-8";
    r.body = why.isEmpty() ? QByteArray("ok\n") : why.toUtf8() + '\n';
    return r;
}

bool RpcServer::start()
{
    if (d->running)
        return true;
    d->error.clear();
    d->stopping = false;
    const RpcServerOptions &o = d->options;

    HttpListenerOptions http;
    http.host = o.host;
    http.port = o.port;
    http.loopbackOnly = o.loopbackOnly;
    http.maxBodyBytes = std::max<qint64>(0, o.maxBodyBytes);
    http.maxConnections = o.maxConnections;
    http.keepAliveSeconds = o.keepAliveSeconds;
    http.readTimeoutSeconds = o.readTimeoutSeconds;
    http.requestTimeoutSeconds = o.requestTimeoutSeconds;
    http.threads = std::max(1, o.threads);
    // Every worker knows its index, on its own thread.
    http.onThreadStart = [hook = o.onThreadStart](int index) {
        t_workerIndex = index;
        if (hook)
            hook(index);
    };
    http.onThreadStop = [hook = o.onThreadStop](int index) {
        if (hook)
            hook(index);
        t_workerIndex = -1;
    };
    d->listener = std::make_unique<HttpListener>(
        http,
        [this](HttpRequest &&request, const QString &peer) {
            return d->serve(std::move(request), peer);
        },
        [this](int status, const QString &reason, const QString &peer) {
            return d->refusal(status, QStringLiteral("Pedido recusado: %1.").arg(reason), QString(),
                              peer, true);
        });
    if (!d->listener->start(&d->error)) {
        d->listener.reset();
        return false;
    }
    d->port = d->listener->port();
    d->running = true;
    return true;
}

void RpcServer::stop()
{
    if (!d->running)
        return;
    d->stopping = true;
    // No more connections; idle ones are closed; the calls under way end and are answered, then
    // the workers are joined.
    d->listener->stop();
    d->listener.reset();
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
