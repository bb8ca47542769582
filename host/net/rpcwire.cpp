#include "rpcwire.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>

#include <stdexcept>

namespace fis {

namespace {

// Head of a CBOR data item (major type + argument), shortest form.
void appendHead(QByteArray &out, quint8 major, quint64 value)
{
    const quint8 m = quint8(major << 5);
    int bytes = 0;
    if (value < 24) {
        out.append(char(m | value));
        return;
    }
    if (value <= 0xFF) {
        out.append(char(m | 24));
        bytes = 1;
    } else if (value <= 0xFFFF) {
        out.append(char(m | 25));
        bytes = 2;
    } else if (value <= 0xFFFFFFFFull) {
        out.append(char(m | 26));
        bytes = 4;
    } else {
        out.append(char(m | 27));
        bytes = 8;
    }
    for (int s = 8 * (bytes - 1); s >= 0; s -= 8)
        out.append(char((value >> s) & 0xFF));
}

// The bytes of a packet answer's packet: where they are in `bytes` when the item at `at` is
// tag 40002 + one definite byte string that fits (else false: the general reading applies).
bool packetSpan(const QByteArray &bytes, qint64 at, qsizetype *begin, qsizetype *size)
{
    const auto byte = [&bytes](qint64 i) { return quint8(bytes.at(qsizetype(i))); };
    if (at < 0 || at + 4 > bytes.size() || byte(at) != 0xD9 ||
        ((byte(at + 1) << 8) | byte(at + 2)) != kCborTagPacket || (byte(at + 3) >> 5) != 2)
        return false;
    const quint8 info = byte(at + 3) & 0x1F;
    quint64 len = info;
    qint64 data = at + 4;
    if (info >= 24) {
        if (info > 27)
            return false; // indefinite or reserved
        const int n = 1 << (info - 24);
        if (data + n > bytes.size())
            return false;
        len = 0;
        for (int i = 0; i < n; ++i)
            len = (len << 8) | byte(data + i);
        data += n;
    }
    if (len == 0 || len > quint64(bytes.size() - data))
        return false;
    *begin = qsizetype(data);
    *size = qsizetype(len);
    return true;
}

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Reads a whole (possibly chunked) text string at the reader's position.
bool readText(QCborStreamReader &reader, QString *out)
{
    if (!reader.isString())
        return false;
    QString all;
    auto r = reader.readString();
    while (r.status == QCborStreamReader::Ok) {
        all += r.data;
        r = reader.readString();
    }
    if (r.status == QCborStreamReader::Error)
        return false;
    *out = all;
    return true;
}

bool streamBroken(QCborStreamReader &reader)
{
    return reader.lastError() != QCborError::NoError;
}

// Walks a map: entry() is called once per pair, with the reader on the key, and must consume
// both key and value (or fail with a reason).
template <typename Entry>
bool readMap(QCborStreamReader &reader, const QString &what, QString *error, Entry entry)
{
    if (!reader.isMap())
        return fail(error, QStringLiteral("%1 não é um mapa CBOR").arg(what));
    if (!reader.enterContainer())
        return fail(error, QStringLiteral("%1 corrompido").arg(what));
    while (!streamBroken(reader) && reader.hasNext()) {
        if (!entry())
            return false;
    }
    if (streamBroken(reader) || !reader.leaveContainer())
        return fail(error, QStringLiteral("%1 incompleto").arg(what));
    return true;
}

bool readVariantList(QCborStreamReader &reader, QList<Variant> *out, QString *error)
{
    if (!reader.isArray())
        return fail(error, QStringLiteral("os argumentos não formam uma lista"));
    if (reader.isLengthKnown() && reader.length() > quint64(kRpcMaxArgs))
        return fail(error, QStringLiteral("argumentos demais (mais de %1)").arg(kRpcMaxArgs));
    if (!reader.enterContainer())
        return fail(error, QStringLiteral("lista de argumentos corrompida"));
    QList<Variant> list;
    while (!streamBroken(reader) && reader.hasNext()) {
        if (list.size() >= kRpcMaxArgs)
            return fail(error, QStringLiteral("argumentos demais (mais de %1)").arg(kRpcMaxArgs));
        Variant v;
        QString why;
        if (!readVariant(reader, &v, &why))
            return fail(error,
                        QStringLiteral("argumento %1 inválido: %2").arg(list.size() + 1).arg(why));
        list.append(v);
    }
    if (streamBroken(reader) || !reader.leaveContainer())
        return fail(error, QStringLiteral("lista de argumentos incompleta"));
    *out = list;
    return true;
}

bool finished(QCborStreamReader &reader, const QByteArray &bytes, QString *error)
{
    if (streamBroken(reader))
        return fail(error,
                    QStringLiteral("dados corrompidos: %1").arg(reader.lastError().toString()));
    if (reader.currentOffset() != bytes.size())
        return fail(error, QStringLiteral("dados a mais após a mensagem"));
    return true;
}

} // namespace

QByteArray encodeRequest(const RpcRequest &request)
{
    QByteArray bytes;
    QCborStreamWriter writer(&bytes);
    writer.startMap(request.operatorName.isEmpty() ? 2 : 3);
    writer.append(QLatin1String("method"));
    writer.append(request.method);
    if (!request.operatorName.isEmpty()) {
        writer.append(QLatin1String("operator"));
        writer.append(request.operatorName);
    }
    writer.append(QLatin1String("args"));
    writer.startArray(quint64(request.args.size()));
    for (const Variant &arg : request.args)
        writeVariant(writer, arg);
    writer.endArray();
    writer.endMap();
    return bytes;
}

namespace {

// The "out" key and its map of by-reference positions to values.
void writeOuts(QCborStreamWriter &writer, const RpcResponse &response)
{
    writer.append(QLatin1String("out"));
    writer.startMap(quint64(response.out.size()));
    for (auto it = response.out.cbegin(); it != response.out.cend(); ++it) {
        if (it.key() < 0)
            throw std::invalid_argument("negative by-reference position");
        writer.append(quint64(it.key()));
        writeVariant(writer, it.value());
    }
    writer.endMap();
}

} // namespace

QByteArray encodeResponse(const RpcResponse &response)
{
    if (response.ok && kindOf(response.result) == VariantKind::Packet &&
        !response.result.value<DataPacket>().isNull()) {
        // A packet answer (a listing may be megabytes): its bytes are appended once into a
        // buffer of the right size, not streamed item by item.
        const QByteArray packet = response.result.value<DataPacket>().encoded();
        QByteArray out;
        QList<QByteArray> outs;
        qsizetype outBytes = 0;
        for (auto it = response.out.cbegin(); it != response.out.cend(); ++it) {
            if (it.key() < 0)
                throw std::invalid_argument("negative by-reference position");
            outs.append(encodeVariant(it.value()));
            outBytes += outs.last().size() + 9;
        }
        out.reserve(packet.size() + outBytes + 32);
        appendHead(out, 5, 3);
        out.append("\x62ok\xF5\x66result", 11);
        appendHead(out, 6, kCborTagPacket);
        appendHead(out, 2, quint64(packet.size()));
        out.append(packet);
        out.append("\x63out", 4);
        appendHead(out, 5, quint64(response.out.size()));
        qsizetype i = 0;
        for (auto it = response.out.cbegin(); it != response.out.cend(); ++it) {
            appendHead(out, 0, quint64(it.key()));
            out.append(outs.at(i++));
        }
        return out;
    }
    QByteArray bytes;
    QCborStreamWriter writer(&bytes);
    if (response.ok) {
        writer.startMap(3);
        writer.append(QLatin1String("ok"));
        writer.append(true);
        writer.append(QLatin1String("result"));
        writeVariant(writer, response.result);
        writeOuts(writer, response);
    } else {
        writer.startMap(2);
        writer.append(QLatin1String("ok"));
        writer.append(false);
        writer.append(QLatin1String("error"));
        writer.append(response.error);
    }
    writer.endMap();
    return bytes;
}

QByteArray encodeStreamedHead()
{
    QByteArray out("\xBF\x66result", 8);
    appendHead(out, 6, kCborTagPacket);
    out.append(char(0x5F));
    return out;
}

QByteArray encodePieceHead(qsizetype size)
{
    QByteArray out;
    appendHead(out, 2, quint64(size));
    return out;
}

QByteArray encodeStreamedTail(const RpcResponse &response)
{
    QByteArray bytes;
    QCborStreamWriter writer(&bytes); // writes from the array's start: the ends go around it
    writer.append(QLatin1String("ok"));
    writer.append(response.ok);
    if (response.ok) {
        writeOuts(writer, response);
    } else {
        writer.append(QLatin1String("error"));
        writer.append(response.error);
    }
    return char(0xFF) + bytes + char(0xFF); // the packet's end, ..., the map's end
}

bool decodeRequest(const QByteArray &bytes, RpcRequest *out, QString *error)
{
    if (bytes.isEmpty())
        return fail(error, QStringLiteral("pedido vazio"));
    QCborStreamReader reader(bytes);
    RpcRequest request;
    bool haveMethod = false;
    bool haveArgs = false;
    bool haveOperator = false;
    const bool ok = readMap(reader, QStringLiteral("o pedido"), error, [&] {
        QString key;
        if (!readText(reader, &key))
            return fail(error, QStringLiteral("chave do pedido não é um texto"));
        if (key == QLatin1String("method")) {
            if (haveMethod)
                return fail(error, QStringLiteral("chave \"method\" repetida"));
            if (!readText(reader, &request.method))
                return fail(error, QStringLiteral("o nome do método não é um texto"));
            haveMethod = true;
            return true;
        }
        if (key == QLatin1String("operator")) {
            if (haveOperator)
                return fail(error, QStringLiteral("chave \"operator\" repetida"));
            if (!readText(reader, &request.operatorName))
                return fail(error, QStringLiteral("o nome do operador não é um texto"));
            haveOperator = true;
            return true;
        }
        if (key == QLatin1String("args")) {
            if (haveArgs)
                return fail(error, QStringLiteral("chave \"args\" repetida"));
            haveArgs = true;
            return readVariantList(reader, &request.args, error);
        }
        // Unknown keys are skipped so that later versions may add some.
        if (streamBroken(reader) || !reader.next(kMaxVariantDepth))
            return fail(error, QStringLiteral("valor da chave \"%1\" corrompido").arg(key));
        return true;
    });
    if (!ok || !finished(reader, bytes, error))
        return false;
    if (!haveMethod || request.method.isEmpty())
        return fail(error, QStringLiteral("pedido sem nome de método"));
    if (!haveArgs)
        return fail(error, QStringLiteral("pedido sem lista de argumentos"));
    *out = request;
    return true;
}

bool decodeResponse(const QByteArray &bytes, RpcResponse *out, QString *error)
{
    QByteArray copy = bytes;
    return decodeResponse(std::move(copy), out, error);
}

bool decodeResponse(QByteArray &&bytes, RpcResponse *out, QString *error)
{
    qsizetype packetAt = -1, packetSize = 0;
    if (bytes.isEmpty())
        return fail(error, QStringLiteral("resposta vazia"));
    // Read in place: a reader made from the QByteArray would share it, and the packet could then
    // not keep the buffer without a copy.
    QCborStreamReader reader(bytes.constData(), bytes.size());
    RpcResponse response;
    bool haveOk = false, haveResult = false, haveOut = false, haveError = false;
    const bool ok = readMap(reader, QStringLiteral("a resposta"), error, [&] {
        QString key;
        if (!readText(reader, &key))
            return fail(error, QStringLiteral("chave da resposta não é um texto"));
        if (key == QLatin1String("ok")) {
            if (haveOk || !reader.isBool())
                return fail(error, QStringLiteral("indicador \"ok\" inválido"));
            response.ok = reader.toBool();
            haveOk = true;
            if (!reader.next())
                return fail(error, QStringLiteral("resposta corrompida após o indicador \"ok\""));
            return true;
        }
        if (key == QLatin1String("result")) {
            if (haveResult)
                return fail(error, QStringLiteral("chave \"result\" repetida"));
            haveResult = true;
            // A packet result is not copied out of the answer: it keeps the answer's buffer.
            if (packetSpan(bytes, reader.currentOffset(), &packetAt, &packetSize)) {
                reader.next(); // the tag
                if (!reader.next() || reader.currentOffset() != packetAt + packetSize)
                    return fail(error, QStringLiteral("resultado inválido: pacote de dados "
                                                      "corrompido"));
                return true;
            }
            QString why;
            if (!readVariant(reader, &response.result, &why))
                return fail(error, QStringLiteral("resultado inválido: %1").arg(why));
            return true;
        }
        if (key == QLatin1String("error")) {
            if (haveError || !readText(reader, &response.error))
                return fail(error, QStringLiteral("texto de erro inválido"));
            haveError = true;
            return true;
        }
        if (key == QLatin1String("out")) {
            if (haveOut)
                return fail(error, QStringLiteral("chave \"out\" repetida"));
            haveOut = true;
            return readMap(reader, QStringLiteral("o mapa de saídas"), error, [&] {
                if (!reader.isUnsignedInteger() ||
                    reader.toUnsignedInteger() >= quint64(kRpcMaxArgs))
                    return fail(error, QStringLiteral("posição de saída inválida"));
                const int pos = int(reader.toUnsignedInteger());
                if (response.out.contains(pos))
                    return fail(error, QStringLiteral("posição de saída %1 repetida").arg(pos));
                if (!reader.next())
                    return fail(error, QStringLiteral("posição de saída corrompida"));
                Variant v;
                QString why;
                if (!readVariant(reader, &v, &why))
                    return fail(error, QStringLiteral("saída %1 inválida: %2").arg(pos).arg(why));
                response.out.insert(pos, v);
                return true;
            });
        }
        if (streamBroken(reader) || !reader.next(kMaxVariantDepth))
            return fail(error, QStringLiteral("valor da chave \"%1\" corrompido").arg(key));
        return true;
    });
    if (!ok || !finished(reader, bytes, error))
        return false;
    if (!haveOk)
        return fail(error, QStringLiteral("resposta sem indicador \"ok\""));
    if (!response.ok && (!haveError || response.error.isEmpty()))
        return fail(error, QStringLiteral("resposta de falha sem texto de erro"));
    if (response.ok && haveError)
        return fail(error, QStringLiteral("resposta de sucesso com texto de erro"));
    if (packetAt >= 0) {
        // Dropping the front of an unshared QByteArray only moves its start: no copy.
        bytes.truncate(packetAt + packetSize);
        bytes.remove(0, packetAt);
        response.result = makePacket(DataPacket{std::move(bytes)});
    }
    *out = response;
    return true;
}

} // namespace fis
