#pragma once
// An HTTP/1.1 listener on one event loop (epoll). It accepts connections and reads each request
// whole before handing it over, so a slow, silent or idle client costs a socket and a buffer,
// never a worker thread. It enforces the limits of the front door:
//   - a body at most maxBodyBytes whatever its framing (a declared length over it is answered
//     413 at once, a chunked body as soon as it passes it);
//   - a request whose bytes stop coming for readTimeoutSeconds, or that is not all there after
//     requestTimeoutSeconds, is answered 408 and the connection closed;
//   - an idle persistent connection is closed after keepAliveSeconds;
//   - at most maxConnections open at once; one more is answered 503 and closed.
// Requests on one connection are handled one at a time, in order. Refusals of its own
// (malformed, over a limit, too slow) are answered with the body the refusal handler builds.
#include "net/httprequest.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

namespace fis {

struct HttpListenerOptions
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;              // 0 = any free port
    bool loopbackOnly = false; // refuse to listen on an address that is not loopback
    qint64 maxBodyBytes = 64 * 1024 * 1024;
    qsizetype maxHeadBytes = 16 * 1024;
    int maxConnections = 1024; // also kept below the process's limit of open files
    int keepAliveSeconds = 15;
    int readTimeoutSeconds = 5;
    int requestTimeoutSeconds = 30;
};

struct HttpResponse
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra ones
    bool close = false;                           // close the connection once it is sent
};

// Answers one request. Copyable, callable from any thread; the first call counts, later ones
// are ignored. A request never answered keeps its connection (and stop()) waiting.
class HttpReply
{
public:
    struct Mailbox;
    HttpReply(std::shared_ptr<Mailbox> mailbox, quint64 connection);
    void operator()(HttpResponse response) const;

private:
    std::shared_ptr<Mailbox> m_mailbox;
    quint64 m_connection;
    std::shared_ptr<bool> m_answered; // guarded by the mailbox's mutex
};

class HttpListener
{
public:
    // Runs on the loop thread: must not block (hand the work over and answer later).
    using RequestHandler =
        std::function<void(HttpRequest &&request, const QString &peer, const HttpReply &reply)>;
    // The answer to a request the listener refuses itself; runs on the loop thread.
    using RefusalHandler =
        std::function<HttpResponse(int status, const QString &reason, const QString &peer)>;

    HttpListener(HttpListenerOptions options, RequestHandler onRequest, RefusalHandler onRefusal);
    ~HttpListener(); // stops
    HttpListener(const HttpListener &) = delete;
    HttpListener &operator=(const HttpListener &) = delete;

    // Binds and starts the loop. False, with *error in Portuguese, when it cannot listen.
    bool start(QString *error);
    // Stops accepting, closes idle connections and unfinished requests, waits for the answers
    // of the requests under way to be sent (or their clients to stall), then returns.
    void stop();
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// True when every address the host name resolves to is a loopback one (127.0.0.0/8, ::1).
bool isLoopbackHost(const QString &host);

} // namespace fis
