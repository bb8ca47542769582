#pragma once
// An HTTP/1.1 listener whose worker threads share one event set (epoll, one-shot events): a
// thread takes whatever connection has something to read, reads what is there without ever
// waiting for more, and runs the handler once a request is whole, then writes its answer. A slow,
// silent or idle client therefore costs a socket and a buffer, never a thread, while a call
// costs no hand-over between threads. It enforces the limits of the front door:
//   - a body at most maxBodyBytes whatever its framing (a declared length over it is answered
//     413 at once, a chunked body as soon as it passes it);
//   - a request whose bytes stop coming for readTimeoutSeconds, or that is not all there after
//     requestTimeoutSeconds, is answered 408 and the connection closed;
//   - an idle persistent connection is closed after keepAliveSeconds;
//   - at most maxConnections open at once; one more is answered 503 and closed.
// Requests on one connection are handled one at a time, in order; an answer written while it is
// made (HttpResponse::stream) goes out chunked (to HTTP/1.0, until the connection closes). Refusals
// of its own (malformed, over a limit, too slow) are answered with the body the refusal handler
// builds.
#include "net/httprequest.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <span>

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
    int threads = 4; // requests handled at once
    // Run on each thread when it starts and just before it ends (after stop()).
    std::function<void(int threadIndex)> onThreadStart;
    std::function<void(int threadIndex)> onThreadStop;
};

struct HttpResponse;

// Sends the given bytes at once as the next part of a body written while it is made, waiting
// for the client at most the read timeout at a time. False once the client is gone or has
// stopped reading: the connection is then closed, and nothing more should be written.
using HttpBodySink = std::function<bool(std::span<const QByteArrayView> parts)>;

struct HttpResponse
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra ones
    bool close = false;                           // close the connection once it is sent
    // A body written while it is made, instead of `body`: run on the worker thread right after
    // the request handler. The head (this status, chunked, no Content-Length) goes out with the
    // first bytes sent; when it sends nothing, the answer is the one it returns, as a whole.
    std::function<HttpResponse(const HttpBodySink &send)> stream;
};

class HttpListener
{
public:
    // Runs on one of the listener's threads, which serves nothing else until it returns.
    using RequestHandler = std::function<HttpResponse(HttpRequest &&request, const QString &peer)>;
    // The answer to a request the listener refuses itself.
    using RefusalHandler =
        std::function<HttpResponse(int status, const QString &reason, const QString &peer)>;

    HttpListener(HttpListenerOptions options, RequestHandler onRequest, RefusalHandler onRefusal);
    ~HttpListener(); // stops
    HttpListener(const HttpListener &) = delete;
    HttpListener &operator=(const HttpListener &) = delete;

    // Binds and starts the threads. False, with *error in Portuguese, when it cannot listen.
    bool start(QString *error);
    // Stops accepting, closes idle connections and unfinished requests, lets the requests under
    // way finish and their answers go out (or their clients stall), then joins the threads.
    void stop();
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// True when every address the host name resolves to is a loopback one (127.0.0.0/8, ::1).
bool isLoopbackHost(const QString &host);

} // namespace fis
