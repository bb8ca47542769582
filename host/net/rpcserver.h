#pragma once
// The server side of the remote calls: an HTTP listener (cpp-httplib, thread pool) that decodes
// each request, checks it against the registered method's declaration, runs the handler and
// answers the result together with the by-reference arguments.
//
// Every malformed request (bad or truncated CBOR, wrong content, body over the limit), unknown
// object or method, wrong arity or wrong kind, missing token and every exception thrown by a
// handler is answered with an error response; the server stays up.
#include "data/variant.h"
#include "net/rpcwire.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace fis {

// What a parameter accepts. A null argument is accepted for every kind and handed to the handler
// as that kind's empty value (empty text, 0, null date, null packet, empty list); Any passes the
// value as it came.
enum class ArgKind { Any, Text, Float, Date, Packet, Array };

QString argKindName(ArgKind kind);

struct RpcParam
{
    ArgKind kind = ArgKind::Any;
    bool byRef = false; // the handler's value at return goes back to the caller's variable

    static RpcParam in(ArgKind kind) { return {kind, false}; }
    static RpcParam ref(ArgKind kind) { return {kind, true}; }
};

// Where a handler runs. threadIndex is stable for the life of the worker thread (0 .. threads-1),
// so a handler can keep per-thread resources (one database connection per thread).
struct RpcContext
{
    QString object;
    QString method;
    int threadIndex = -1;
    QString peer; // "address:port" of the client
};

// The handler gets the arguments already checked and converted to the declared kinds; it may
// overwrite by-reference ones. It returns the result or throws: std::exception::what() (UTF-8)
// becomes the error text of the answer.
using RpcHandler = std::function<Variant(QList<Variant> &args, const RpcContext &context)>;

enum class RpcOutcome {
    Ok,       // handler returned
    Failed,   // handler threw, or its result could not be encoded
    Rejected, // request refused before dispatch (malformed, unknown, arity, kind, token, size)
};

struct RpcCallLog
{
    QString object;
    QString method; // empty when the request could not be decoded
    std::chrono::microseconds duration{0};
    RpcOutcome outcome = RpcOutcome::Ok;
    QString error; // the error text answered, when not Ok
    int threadIndex = -1;
    QString peer;
};

struct RpcServerOptions
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;     // 0 = any free port; RpcServer::port() tells which
    QByteArray token; // when set, every request must carry it
    int threads = 32; // worker threads; one per concurrently connected (keep-alive) client
    qint64 maxBodyBytes = 64 * 1024 * 1024;
    // Idle time before a persistent connection is closed. An open connection holds a worker, so
    // this also bounds how long a new client may wait when every worker is taken.
    int keepAliveSeconds = 15;
    int readTimeoutSeconds = 30;

    // Run on each worker thread when it starts and just before it ends (after stop()).
    std::function<void(int threadIndex)> onThreadStart;
    std::function<void(int threadIndex)> onThreadStop;
    // One entry per answered call, run on the worker thread once the answer is built; must be
    // thread-safe.
    std::function<void(const RpcCallLog &)> onCall;
};

// HTTP status and body of one answer.
struct RpcAnswer
{
    int status = 200;
    QByteArray body; // always an encoded RpcResponse
};

class RpcServer
{
public:
    explicit RpcServer(RpcServerOptions options = {});
    ~RpcServer(); // stops
    RpcServer(const RpcServer &) = delete;
    RpcServer &operator=(const RpcServer &) = delete;

    // Declares a method of a server object ("Fis02900.rdmEmisGuiaPrv"). Only before start();
    // a second declaration of the same name replaces the first. Throws std::logic_error once
    // started.
    void addMethod(const QString &object, const QString &method, QList<RpcParam> params,
                   RpcHandler handler);

    // Binds and starts listening in a thread of its own. False (and errorString()) when the
    // address cannot be bound.
    bool start();
    // Stops listening, waits for running calls to end and joins every worker. Idempotent.
    void stop();
    bool isRunning() const;
    int port() const; // the bound port, 0 before start()
    QString errorString() const;

    // The whole handling of one request body, without the network: decode, check, dispatch,
    // encode. Used by the listener; public for tests and tools. Does not check the token.
    RpcAnswer handle(const QString &object, const QByteArray &body, int threadIndex = -1,
                     const QString &peer = {}) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace fis
