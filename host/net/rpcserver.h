#pragma once
// The server side of the remote calls: an HTTP listener (net/httplistener.h) whose fixed pool
// of worker threads read each request whole without waiting on any client, then decode it,
// check it against the registered method's declaration, run the handler and answer the result
// together with the by-reference arguments. A slow or idle client never holds a worker.
//
// Every malformed request (bad or truncated CBOR, wrong content, body over the limit, a request
// too slow to arrive), unknown object or method, wrong arity or wrong kind, an argument no
// method may receive (see net/rpcargs.h), missing token and every exception thrown by a handler
// is answered with an error response; the server stays up.
//
// A packet result whose rows are still to be read (DataPacket::source) is sent while they are
// read, on the call's worker thread right after its handler (docs/protocol.md); rows that fail
// part way fail the call at the end of that answer.
//
// GET /health answers 200 "ok" when the health check passes (503 with its reason otherwise),
// without token: it says nothing but whether the server can work.
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
    QString peer;         // "address:port" of the client
    QString operatorName; // who works at the client, as the request says (may be empty)
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
    QString operatorName;
};

struct RpcServerOptions
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;                           // 0 = any free port; RpcServer::port() tells which
    bool loopbackOnly = false;              // refuse to listen on an address that is not loopback
    QByteArray token;                       // when set, every request must carry it
    int threads = 32;                       // worker threads: calls running at once
    qint64 maxBodyBytes = 64 * 1024 * 1024; // whatever the framing
    int maxConnections = 1024;
    // Idle time before a persistent connection is closed.
    int keepAliveSeconds = 15;
    // A request whose bytes stop coming for this long is dropped (408)...
    int readTimeoutSeconds = 5;
    // ...and so is one not all there after this long.
    int requestTimeoutSeconds = 30;
    // GET /health: runs on a worker; an empty text means healthy, else why not.
    std::function<QString(int threadIndex)> healthCheck;

    // Run on each worker thread when it starts and just before it ends (after stop()).
    std::function<void(int threadIndex)> onThreadStart;
    std::function<void(int threadIndex)> onThreadStop;
    // One entry per answered call, run on the worker thread once the answer is built (one sent
    // while its rows are read: once it has ended, with how it ended); must be thread-safe.
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
    // address cannot be bound (or is not loopback when loopbackOnly is set).
    bool start();
    // Stops listening, closes idle connections, waits for running calls to end and their
    // answers to go out, and joins every worker. Idempotent.
    void stop();
    bool isRunning() const;
    int port() const; // the bound port, 0 before start()
    QString errorString() const;

    // The whole handling of one request body, without the network: decode, check, dispatch,
    // encode (a packet whose rows are still to be read is read here, whole). Public for tests
    // and tools. Does not check the token.
    RpcAnswer handle(const QString &object, const QByteArray &body, int threadIndex = -1,
                     const QString &peer = {}) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace fis
