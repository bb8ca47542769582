#include "rpcargs.h"

#include "data/packet.h"

#include <cmath>
#include <optional>

namespace fis {

namespace {

bool isForbiddenControl(char16_t c)
{
    if (c == u'\t' || c == u'\n' || c == u'\r')
        return false;
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

bool checkText(const QString &text, QString *why)
{
    for (const QChar ch : text) {
        if (isForbiddenControl(ch.unicode())) {
            *why = QStringLiteral("caractere de controle (U+%1) não permitido em texto")
                       .arg(QString::number(ch.unicode(), 16).toUpper().rightJustified(4, u'0'));
            return false;
        }
    }
    return true;
}

bool checkArgument(const Variant &value, QString *why)
{
    switch (kindOf(value)) {
    case VariantKind::Text:
        return checkText(value.toString(), why);
    case VariantKind::Float:
        if (!std::isfinite(value.toDouble())) {
            *why = QStringLiteral("número inválido (infinito ou indefinido)");
            return false;
        }
        return true;
    case VariantKind::Date:
        if (!value.value<TDateTime>().inRange()) {
            *why = QStringLiteral("data fora do intervalo (anos 1 a 9999)");
            return false;
        }
        return true;
    case VariantKind::Array: {
        const QVariantList items = value.toList();
        for (qsizetype i = 0; i < items.size(); ++i) {
            QString inner;
            if (!checkArgument(items[i], &inner)) {
                *why = QStringLiteral("item %1: %2").arg(i + 1).arg(inner);
                return false;
            }
        }
        return true;
    }
    case VariantKind::Packet: {
        const DataPacket packet = value.value<DataPacket>();
        if (packet.isNull())
            return true;
        std::optional<PacketReader> reader;
        try {
            reader.emplace(packet);
        } catch (const PacketError &) {
            return true; // the method refuses it, naming the packet
        }
        for (int row = 0; row < reader->rowCount(); ++row) {
            const QVariantList &cells = reader->row(row);
            for (qsizetype f = 0; f < cells.size(); ++f) {
                QString inner;
                if (kindOf(cells[f]) == VariantKind::Text &&
                    !checkText(cells[f].toString(), &inner)) {
                    *why = QStringLiteral("pacote de dados, linha %1, campo %2: %3")
                               .arg(row + 1)
                               .arg(reader->fields().at(f).name, inner);
                    return false;
                }
            }
        }
        return true;
    }
    case VariantKind::Null:
    case VariantKind::Invalid:
        break;
    }
    return true;
}

} // namespace fis
