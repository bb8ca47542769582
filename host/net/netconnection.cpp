#include "netconnection.h"

#include "net/answer.h"
#include "net/rpcwire.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QUrl>

#include <httplib.h>

#include <netdb.h>
#include <poll.h>

#include <algorithm>

namespace fis {

ERemoteError::ERemoteError(const QString &message, bool transport)
    : std::runtime_error(message.toStdString()), m_message(message), m_transport(transport)
{}

} // namespace fis

using fis::Variant;

namespace {

constexpr int kDefaultTimeoutMs = 120000;
constexpr int kMaxConnectTimeoutMs = 10000;

bool hostResolves(const QString &host)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
    if (found)
        freeaddrinfo(found);
    return rc == 0;
}

// The persistent socket may have been closed by the server while idle (keep-alive time over, or
// the server restarted). Sending on it would fail the call, so it is dropped first and the
// request goes out on a fresh connection. Anything readable on an idle connection means the
// same: it is not in a state to carry a new request.
void dropStaleSocket(httplib::Client &client)
{
    if (!client.is_socket_open())
        return;
    pollfd p{};
    p.fd = client.socket();
    p.events = POLLIN;
    if (poll(&p, 1, 0) != 0)
        client.stop();
}

} // namespace

struct TNetConnection::Impl
{
    QString host;
    int port = 0;
    QString serverName;
    bool throwException = false;
    int timeoutMs = kDefaultTimeoutMs;
    QString token;
    QString operatorName;
    BeforeConnectEvent beforeConnect;

    bool connected = false;
    std::unique_ptr<httplib::Client> client;

    bool lastFailed = false;
    QString lastError;

    void close()
    {
        if (client)
            client->stop();
        client.reset();
        connected = false;
    }

    QString where() const { return QStringLiteral("%1:%2").arg(host).arg(port); }

    QString transportError(const QString &what) const
    {
        return QStringLiteral("Falha de comunicação com o servidor de aplicação %1: %2.")
            .arg(where(), what);
    }

    QString describe(httplib::Error error, qint64 elapsedMs) const
    {
        switch (error) {
        case httplib::Error::Connection:
            if (!hostResolves(host))
                return QStringLiteral("endereço do servidor não encontrado");
            return QStringLiteral("conexão recusada");
        case httplib::Error::ConnectionTimeout:
            return QStringLiteral("tempo de conexão esgotado");
        case httplib::Error::Read:
            if (elapsedMs + 50 >= timeoutMs)
                return QStringLiteral("tempo de resposta esgotado (%1 s)")
                    .arg(QLocale().toString(timeoutMs / 1000.0, 'f', timeoutMs % 1000 ? 1 : 0));
            return QStringLiteral("a conexão foi encerrada sem resposta completa");
        case httplib::Error::Write:
            return QStringLiteral("falha ao enviar o pedido");
        case httplib::Error::Canceled:
            return QStringLiteral("chamada cancelada");
        default:
            return QStringLiteral("erro de transporte (%1)")
                .arg(QString::fromStdString(httplib::to_string(error)));
        }
    }
};

TNetConnection::TNetConnection(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}

TNetConnection::~TNetConnection()
{
    d->close();
}

QString TNetConnection::host() const
{
    return d->host;
}

void TNetConnection::setHost(const QString &host)
{
    if (host == d->host)
        return;
    d->close();
    d->host = host;
}

int TNetConnection::port() const
{
    return d->port;
}

void TNetConnection::setPort(int port)
{
    if (port == d->port)
        return;
    d->close();
    d->port = port;
}

QString TNetConnection::serverName() const
{
    return d->serverName;
}

void TNetConnection::setServerName(const QString &name)
{
    d->serverName = name;
}

bool TNetConnection::throwException() const
{
    return d->throwException;
}

void TNetConnection::setThrowException(bool on)
{
    d->throwException = on;
}

int TNetConnection::timeout() const
{
    return d->timeoutMs;
}

void TNetConnection::setTimeout(int milliseconds)
{
    if (milliseconds == d->timeoutMs)
        return;
    d->close();
    d->timeoutMs = milliseconds > 0 ? milliseconds : kDefaultTimeoutMs;
}

QString TNetConnection::authToken() const
{
    return d->token;
}

void TNetConnection::setAuthToken(const QString &token)
{
    d->token = token;
}

QString TNetConnection::operatorName() const
{
    return d->operatorName;
}

void TNetConnection::setOperatorName(const QString &name)
{
    d->operatorName = name;
}

void TNetConnection::setBeforeConnect(BeforeConnectEvent handler)
{
    d->beforeConnect = std::move(handler);
}

bool TNetConnection::connected() const
{
    return d->connected;
}

void TNetConnection::setConnected(bool on)
{
    if (on == d->connected)
        return;
    if (!on) {
        d->close();
        return;
    }
    if (d->beforeConnect)
        d->beforeConnect(this); // may set host and port
    auto client = std::make_unique<httplib::Client>(d->host.toStdString(), d->port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    const int connectMs = std::min(d->timeoutMs, kMaxConnectTimeoutMs);
    client->set_connection_timeout(connectMs / 1000, (connectMs % 1000) * 1000);
    client->set_read_timeout(d->timeoutMs / 1000, (d->timeoutMs % 1000) * 1000);
    client->set_write_timeout(d->timeoutMs / 1000, (d->timeoutMs % 1000) * 1000);
    d->client = std::move(client);
    d->connected = true;
}

void TNetConnection::disconnect()
{
    setConnected(false);
}

bool TNetConnection::lastCallFailed() const
{
    return d->lastFailed;
}

QString TNetConnection::lastError() const
{
    return d->lastError;
}

Variant TNetConnection::call(const QString &method, const QList<Variant *> &args)
{
    d->lastFailed = false;
    d->lastError.clear();
    auto failure = [this](const QString &message, bool transport) -> Variant {
        d->lastFailed = true;
        d->lastError = message;
        if (d->throwException)
            throw fis::ERemoteError(message, transport);
        return Variant(message);
    };

    fis::RpcRequest request;
    request.method = method;
    request.operatorName = d->operatorName;
    request.args.reserve(args.size());
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (!args[i])
            return failure(QStringLiteral("Chamada de %1: o argumento %2 não foi informado.")
                               .arg(method)
                               .arg(i + 1),
                           false);
        const Variant v = fis::normalized(*args[i]);
        if (fis::kindOf(v) == fis::VariantKind::Invalid)
            return failure(QStringLiteral("Chamada de %1: o argumento %2 tem um tipo que não pode "
                                          "ser enviado (%3).")
                               .arg(method)
                               .arg(i + 1)
                               .arg(QString::fromLatin1(args[i]->typeName())),
                           false);
        request.args.append(v);
    }
    if (args.size() > fis::kRpcMaxArgs)
        return failure(
            QStringLiteral("Chamada de %1: argumentos demais (%2).").arg(method).arg(args.size()),
            false);

    if (!d->connected)
        setConnected(true);
    if (d->host.isEmpty() || d->port <= 0 || d->port > 65535)
        return failure(d->transportError(QStringLiteral("endereço ou porta do servidor não "
                                                        "configurados")),
                       true);

    const QByteArray body = fis::encodeRequest(request);
    const std::string path =
        std::string(fis::kRpcPathPrefix) + QUrl::toPercentEncoding(d->serverName).toStdString();
    httplib::Headers headers;
    if (!d->token.isEmpty())
        headers.emplace(fis::kRpcAuthHeader, "Bearer " + d->token.toStdString());

    // A packet result is decoded as its bytes arrive, never held whole (net/answer.h).
    httplib::Request req;
    req.method = "POST";
    req.path = path;
    req.headers = headers;
    req.headers.emplace("Content-Type", fis::kRpcContentType);
    req.body.assign(body.constData(), size_t(body.size()));
    fis::AnswerReceiver answer;
    req.response_handler = [&answer](const httplib::Response &r) {
        answer.reset(r.get_header_value<uint64_t>("Content-Length"));
        return true;
    };
    req.content_receiver = [&answer](const char *data, size_t n, uint64_t, uint64_t) {
        answer.feed(data, qsizetype(n));
        return true;
    };

    dropStaleSocket(*d->client);
    QElapsedTimer timer;
    timer.start();
    const httplib::Result res = d->client->send(req);
    if (!res)
        return failure(d->transportError(d->describe(res.error(), timer.elapsed())), true);

    fis::RpcResponse response;
    QString why;
    const bool decoded = answer.finish(&response, &why);
    if (!decoded) {
        if (res->status != 200)
            return failure(
                d->transportError(QStringLiteral("resposta HTTP %1 inesperada").arg(res->status)),
                true);
        return failure(d->transportError(QStringLiteral("resposta inválida (%1)").arg(why)), true);
    }
    if (!response.ok)
        return failure(response.error, false);
    if (res->status != 200)
        return failure(
            d->transportError(QStringLiteral("resposta HTTP %1 inesperada").arg(res->status)),
            true);
    // All outputs are checked before any is written: a bad answer changes nothing.
    for (auto it = response.out.cbegin(); it != response.out.cend(); ++it) {
        if (it.key() >= args.size())
            return failure(d->transportError(QStringLiteral("resposta inválida (saída na posição "
                                                            "%1 de uma chamada com %2 argumentos)")
                                                 .arg(it.key() + 1)
                                                 .arg(args.size())),
                           true);
    }
    for (auto it = response.out.cbegin(); it != response.out.cend(); ++it)
        *args[it.key()] = it.value();
    return response.result;
}
