#include "net/answer.h"

#include <algorithm>

namespace fis {

namespace {

// `bf 66"result" d9 9c42 5f`: a map of indefinite length whose packet comes in pieces.
const QByteArray kStreamedHead = QByteArray::fromHex("bf66726573756c74d99c425f");
// `a3 62"ok" f5 66"result" d9 9c42`, then the head of one definite byte string.
const QByteArray kWholeHead = QByteArray::fromHex("a3626f6bf566726573756c74d99c42");
// The same maps with a null result, to read what follows the packet.
const QByteArray kStreamedRest = QByteArray::fromHex("bf66726573756c74f6");
const QByteArray kWholeRest = QByteArray::fromHex("a3626f6bf566726573756c74f6");

// The argument of a definite head at the start of `b`: its length in bytes, 0 while it is not
// all there, -1 when it is indefinite or reserved.
int headLength(const QByteArray &b, quint64 *arg)
{
    const int info = quint8(b.at(0)) & 0x1f;
    if (info < 24) {
        *arg = quint64(info);
        return 1;
    }
    if (info > 27)
        return -1;
    const int n = 1 << (info - 24);
    if (b.size() < 1 + n)
        return 0;
    *arg = 0;
    for (int i = 1; i <= n; ++i)
        *arg = (*arg << 8) | quint8(b.at(i));
    return 1 + n;
}

} // namespace

void AnswerReceiver::reset(quint64 claimedBytes)
{
    m_mode = Mode::Sniff;
    m_streamed = false;
    m_bytes.clear();
    m_claimed = claimedBytes;
    m_left = 0;
    m_broken.clear();
    m_packetError.clear();
    m_gathered.clear();
    m_decoder = std::make_unique<PacketDecoder>();
}

void AnswerReceiver::feed(const char *data, qsizetype size)
{
    if (m_mode != Mode::Sniff) {
        take(data, size);
        return;
    }
    m_bytes.append(data, size);
    sniff();
}

// Decides the answer's form from its first bytes, once they tell.
void AnswerReceiver::sniff()
{
    const QByteArray &b = m_bytes;
    if (b.size() >= kStreamedHead.size() && b.startsWith(kStreamedHead)) {
        const QByteArray rest = b.sliced(kStreamedHead.size());
        m_bytes.clear();
        m_streamed = true;
        m_mode = Mode::Pieces;
        take(rest.constData(), rest.size());
        return;
    }
    const qsizetype at = kWholeHead.size();
    if (b.size() > at && b.startsWith(kWholeHead) && (quint8(b.at(at)) >> 5) == 2) {
        quint64 length = 0;
        const int n = headLength(b.sliced(at), &length);
        if (n == 0)
            return; // its length is not all there yet
        if (n > 0 && length > 0) {
            const QByteArray rest = b.sliced(at + n);
            m_bytes.clear();
            m_left = length;
            m_mode = Mode::Piece;
            take(rest.constData(), rest.size());
            return;
        }
    } else if (kStreamedHead.startsWith(b) || kWholeHead.startsWith(b)) {
        return; // may still be either
    }
    m_mode = Mode::Plain;
    constexpr quint64 kMaxReserve = quint64(256) << 20; // a claim, not a promise
    m_bytes.reserve(qsizetype(std::min(m_claimed, kMaxReserve)));
}

void AnswerReceiver::take(const char *data, qsizetype size)
{
    while (size > 0) {
        switch (m_mode) {
        case Mode::Sniff:
        case Mode::Plain:
        case Mode::Tail:
            m_bytes.append(data, size);
            return;
        case Mode::Broken:
            return;
        case Mode::Piece: {
            const qsizetype n = qsizetype(std::min<quint64>(m_left, quint64(size)));
            toDecoder(data, n);
            data += n;
            size -= n;
            m_left -= quint64(n);
            if (m_left == 0 && !m_streamed)
                flushDecoder();
            if (m_left == 0)
                m_mode = m_streamed ? Mode::Pieces : Mode::Tail;
            break;
        }
        case Mode::Pieces: {
            // The head of the next piece (at most nine bytes), or the end of the packet.
            m_bytes.append(*data);
            ++data;
            --size;
            const quint8 first = quint8(m_bytes.at(0));
            if (first == 0xff) {
                m_bytes.clear();
                flushDecoder();
                m_mode = Mode::Tail;
                break;
            }
            quint64 length = 0;
            const int n = (first >> 5) == 2 ? headLength(m_bytes, &length) : -1;
            if (n < 0) {
                m_broken = QStringLiteral("resultado inválido: pacote de dados corrompido");
                m_mode = Mode::Broken;
                return;
            }
            if (n > 0) {
                m_bytes.clear();
                m_left = length;
                if (length > 0)
                    m_mode = Mode::Piece;
            }
            break;
        }
        }
    }
}

// The packet's bytes come in the socket's small reads: they go to the decoder gathered in
// larger pieces, which it decodes faster.
constexpr qsizetype kDecodePiece = 256 * 1024;

void AnswerReceiver::toDecoder(const char *data, qsizetype size)
{
    if (!m_packetError.isEmpty())
        return; // the rest of the answer may still carry the server's own failure
    if (m_gathered.isEmpty() && size >= kDecodePiece) {
        decode(QByteArrayView(data, size));
        return;
    }
    m_gathered.append(data, size);
    if (m_gathered.size() >= kDecodePiece)
        flushDecoder();
}

void AnswerReceiver::flushDecoder()
{
    if (!m_gathered.isEmpty())
        decode(m_gathered);
    m_gathered.resize(0); // keeps its room for the next piece
}

void AnswerReceiver::decode(QByteArrayView bytes)
{
    if (!m_packetError.isEmpty())
        return;
    try {
        m_decoder->feed(bytes);
    } catch (const PacketError &e) {
        m_packetError = e.message();
    }
}

bool AnswerReceiver::finish(RpcResponse *out, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        reset(0);
        return false;
    };
    if (m_mode == Mode::Sniff || m_mode == Mode::Plain) {
        const bool ok = decodeResponse(std::move(m_bytes), out, error);
        reset(0);
        return ok;
    }
    if (m_mode == Mode::Broken)
        return fail(m_broken);
    if (m_mode != Mode::Tail)
        return fail(QStringLiteral("resposta incompleta: pacote de dados interrompido"));
    RpcResponse response;
    if (!decodeResponse((m_streamed ? kStreamedRest : kWholeRest) + m_bytes, &response, error)) {
        reset(0);
        return false;
    }
    if (response.ok) {
        if (!m_packetError.isEmpty())
            return fail(QStringLiteral("resultado inválido: %1").arg(m_packetError));
        try {
            response.result = makePacket(m_decoder->finish());
        } catch (const PacketError &e) {
            return fail(QStringLiteral("resultado inválido: %1").arg(e.message()));
        }
    }
    reset(0);
    *out = response;
    return true;
}

} // namespace fis
