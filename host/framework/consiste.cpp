#include "framework/consiste.h"

#include "data/abort.h"
#include "data/dataset.h"
#include "widgets/dbgrid.h"
#include "widgets/hostui.h"

#include <QApplication>
#include <QRegularExpression>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <cstdlib>

void Consiste::MensErro(const QString &text, bool /*abort*/)
{
    if (fis::HostUi *ui = fis::HostUi::instance())
        ui->message(fis::MessageKind::Error, text, QApplication::activeWindow());
    throw fis::EAbort();
}

bool Consiste::EmptyString(const QString &text)
{
    return text.trimmed().isEmpty();
}

namespace {

bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

QString Consiste::Ajusta(const QString &text, int width)
{
    const QString code = text.trimmed();
    if (!allDigits(code) || code.size() >= width)
        return code;
    return code.rightJustified(width, QLatin1Char('0'));
}

QString Consiste::Ajusta_Inscricao(const QString &registration)
{
    qsizetype digits = 0;
    for (const QChar c : registration) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
    }
    if (digits == 14)
        return QStringLiteral("J");
    if (digits == 11)
        return QStringLiteral("F");
    return QString();
}

QString Consiste::resultError(const fis::Variant &result, int item)
{
    using fis::VariantKind;
    switch (fis::kindOf(result)) {
    case VariantKind::Packet:
        return QString();
    case VariantKind::Text: {
        const QString text = result.toString().trimmed();
        return text.isEmpty() ? QStringLiteral("O servidor informou um erro sem descrição.") : text;
    }
    case VariantKind::Null:
        return QStringLiteral("O servidor não retornou resposta.");
    case VariantKind::Array: {
        const QVariantList items = result.toList();
        if (item < 0 || item >= items.size())
            return QStringLiteral("Resposta do servidor incompleta: falta o item %1.").arg(item);
        return resultError(items.at(item), 0);
    }
    case VariantKind::Float:
    case VariantKind::Date:
    case VariantKind::Invalid:
        break;
    }
    return QStringLiteral("Resposta inesperada do servidor (%1).")
        .arg(fis::kindName(fis::kindOf(result)));
}

fis::DataPacket Consiste::CheckResultServ(const fis::Variant &result, bool showError, int item)
{
    const QString error = resultError(result, item);
    if (error.isEmpty()) {
        const fis::Variant packet =
            fis::kindOf(result) == fis::VariantKind::Array ? result.toList().at(item) : result;
        return packet.value<fis::DataPacket>();
    }
    if (showError)
        MensErro(error, true);
    if (fis::HostUi *ui = fis::HostUi::instance())
        ui->message(fis::MessageKind::Error, error, QApplication::activeWindow());
    return fis::DataPacket();
}

QString Consiste::DateMask()
{
    return fis::kDateMask;
}

void Consiste::DateSetText(fis::Field *field, const QString &text)
{
    if (!field)
        throw fis::DataSetError(QStringLiteral("DateSetText: campo não informado."));
    bool ok = false;
    const fis::TDateTime date = parseDate(text, &ok);
    if (!ok)
        MensErro(QStringLiteral("Data inválida: %1").arg(text.trimmed()), true);
    if (date.isNull())
        field->clear();
    else
        field->setAsDateTime(date);
}

fis::TDateTime Consiste::parseDate(const QString &text, bool *ok)
{
    *ok = true;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || text == kEmptyDateText ||
        QString(trimmed).remove(QLatin1Char('/')).trimmed().isEmpty())
        return fis::TDateTime();

    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,2})\\s*/\\s*(\\d{1,2})\\s*/\\s*(\\d{4})\\s*$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (m.hasMatch()) {
        const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
        if (date.isValid())
            return fis::TDateTime::fromDate(date);
    }
    *ok = false;
    return fis::TDateTime();
}

double Consiste::RoundDec(double value, int places)
{
    if (!std::isfinite(value) || value == 0.0)
        return value == 0.0 ? 0.0 : value;

    // The value's decimal form with 15 significant digits (all a double holds reliably), then
    // rounding on those decimal digits: 1.005 is "1.00500000000000e+00", not 1.00499999...
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    // buf: d.dddddddddddddde±xx
    QByteArray digits;
    digits.append(buf[0]);
    digits.append(buf + 2, 14);
    const int exponent = std::atoi(buf + 17);

    // Digits kept: those down to the place 10^-places.
    const long keep = long(exponent) + 1 + places;
    if (keep >= digits.size())
        return value;
    if (keep < 0)
        return 0.0;

    bool roundUp = digits.at(keep) >= '5';
    QByteArray kept = digits.left(keep);
    int resultExponent = exponent;
    if (roundUp) {
        int i = int(kept.size()) - 1;
        while (i >= 0 && kept.at(i) == '9') {
            kept[i] = '0';
            --i;
        }
        if (i >= 0) {
            kept[i] = char(kept.at(i) + 1);
        } else {
            kept.prepend('1');
            ++resultExponent;
        }
    }
    if (kept.isEmpty())
        return 0.0;

    // kept holds the leading digits; the first one stands at 10^resultExponent.
    const QByteArray text = QByteArray(value < 0 ? "-" : "") + kept.left(1) + '.' + kept.mid(1) +
                            'e' + QByteArray::number(resultExponent);
    const double result = std::strtod(text.constData(), nullptr);
    return result == 0.0 ? 0.0 : result;
}

int Consiste::IndiceCol(const fis::DBGrid *grid, const QString &fieldName)
{
    return grid ? grid->columnIndexOf(fieldName) : -1;
}

fis::TDateTime Consiste::PriDiaMes(fis::TDateTime date)
{
    if (date.isNull())
        return date;
    return fis::TDateTime::fromDate(PriDiaMes(date.toDate()));
}

QDate Consiste::PriDiaMes(const QDate &date)
{
    return date.isValid() ? QDate(date.year(), date.month(), 1) : QDate();
}

void Consiste::SetChildEnabled(QWidget *container, bool enabled)
{
    if (!container)
        return;
    const auto children = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children)
        child->setEnabled(enabled);
}
