#pragma once
// The body of a call's answer, read as it arrives. When the result is a packet — in the form of
// an answer sent while it is read (`bf "result" tag 5f <pieces> ff ...`) or in the whole form
// (`a3 "ok" true "result" tag <byte string> ...`) — its bytes go to a PacketDecoder as they come,
// and are never held whole; the rest of the answer is read as any answer. Any other body is kept
// and read whole at the end (rpcwire.h, decodeResponse).
#include "data/packetdecoder.h"
#include "net/rpcwire.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace fis {

class AnswerReceiver
{
public:
    // A new answer begins; claimedBytes is its announced length (only a hint, 0 when unknown).
    void reset(quint64 claimedBytes);
    void feed(const char *data, qsizetype size);
    // The answer, once all of it has been fed; false with a reason when it is not a valid one
    // (a packet that does not decode included). A packet result is in decoded form. A
    // failure the server reports (ok = false) wins over a packet that could not be read.
    bool finish(RpcResponse *out, QString *error);

private:
    enum class Mode { Sniff, Plain, Pieces, Piece, Tail, Broken };
    void take(const char *data, qsizetype size);
    void sniff();
    void toDecoder(const char *data, qsizetype size);
    void flushDecoder();
    void decode(QByteArrayView bytes);

    Mode m_mode = Mode::Sniff;
    bool m_streamed = false; // the streamed form (else the whole form)
    QByteArray m_bytes;      // Sniff/Plain: the body; Pieces: a piece's head; Tail: the rest
    quint64 m_claimed = 0;
    quint64 m_left = 0;    // bytes of the current piece still to come
    QString m_broken;      // why the answer cannot be read
    QString m_packetError; // why its packet could not be decoded
    QByteArray m_gathered; // packet bytes not yet given to the decoder
    std::unique_ptr<PacketDecoder> m_decoder = std::make_unique<PacketDecoder>();
};

} // namespace fis
