#pragma once
// The framing of one remote call, shared by TNetConnection (client) and fis::RpcServer.
//
// A call is an HTTP POST to /call/<server object> with a CBOR body; the answer is a CBOR body too.
// Values inside are encoded as in data/variant.h. docs/protocol.md has the byte-level layout.
//
//   request  = map { "method": text, "args": [ variant, ... ], "operator": text }
//   response = map { "ok": bool, "result": variant, "out": map { uint position: variant },
//                    "error": text }
//
// "ok" is what tells a failure apart from a text result: a method may legitimately answer a
// text, while ok = false means the call itself failed and "error" says why.
#include "data/variant.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace fis {

inline constexpr char kRpcContentType[] = "application/cbor";
inline constexpr char kRpcPathPrefix[] = "/call/";
// The shared token travels as "Authorization: Bearer <token>".
inline constexpr char kRpcAuthHeader[] = "Authorization";
// More arguments than this in one request is refused before anything else is looked at.
inline constexpr int kRpcMaxArgs = 1024;

struct RpcRequest
{
    QString method;
    QList<Variant> args;  // by position
    QString operatorName; // who works at the client (its login); sent only when not empty
};

struct RpcResponse
{
    bool ok = true;
    Variant result;         // meaningful when ok
    QMap<int, Variant> out; // by-reference outputs: 0-based position -> new value
    QString error;          // meaningful when !ok

    static RpcResponse failure(const QString &message)
    {
        RpcResponse r;
        r.ok = false;
        r.error = message;
        return r;
    }
};

// Encoders throw std::invalid_argument for a variant of an unsupported type (see normalized()).
QByteArray encodeRequest(const RpcRequest &request);
QByteArray encodeResponse(const RpcResponse &response);

// An answer whose packet result is sent while it is read (docs/protocol.md): the head up to the
// packet's first piece, the head of each piece (a definite byte string of `size` bytes), and the
// tail from the end of the packet on: "ok" with "out" from `response`, or "error" when !ok.
QByteArray encodeStreamedHead();
QByteArray encodePieceHead(qsizetype size);
QByteArray encodeStreamedTail(const RpcResponse &response);

// Pure decoders: bytes in, value or a readable (Portuguese) reason out. They never throw and
// never read past the given bytes; on failure *out is left untouched.
bool decodeRequest(const QByteArray &bytes, RpcRequest *out, QString *error);
bool decodeResponse(const QByteArray &bytes, RpcResponse *out, QString *error);
// The same, taking the answer's bytes: a packet result keeps them (no copy of the packet).
bool decodeResponse(QByteArray &&bytes, RpcResponse *out, QString *error);

} // namespace fis
