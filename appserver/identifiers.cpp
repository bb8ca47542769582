#include "identifiers.h"

namespace fis {

namespace {

bool allDigits(const QString &s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

int cnpjDigit(const QString &digits, const int *weights, int count)
{
    int sum = 0;
    for (int i = 0; i < count; ++i)
        sum += (digits.at(i).unicode() - '0') * weights[i];
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

constexpr int kFirstWeights[12] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
constexpr int kSecondWeights[13] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};

} // namespace

QString cnpjWithCheckDigits(const QString &base12)
{
    if (base12.size() != 12 || !allDigits(base12))
        return {};
    QString s = base12;
    s += QChar(u'0' + cnpjDigit(s, kFirstWeights, 12));
    s += QChar(u'0' + cnpjDigit(s, kSecondWeights, 13));
    return s;
}

bool isValidCnpj(const QString &cnpj)
{
    return cnpj.size() == 14 && allDigits(cnpj) && cnpjWithCheckDigits(cnpj.left(12)) == cnpj;
}

bool parseKeyList(const QString &text, QStringList *keys, QString *error)
{
    keys->clear();
    if (text.isEmpty() || text == QLatin1String("_"))
        return true;
    if (!text.startsWith(u'_') || !text.endsWith(u'_')) {
        *error = QStringLiteral("Lista de chaves mal formada: \"%1\" deve começar e terminar "
                                "com \"_\".")
                     .arg(text.left(60));
        return false;
    }
    const QStringList parts = text.mid(1, text.size() - 2).split(u'_');
    for (const QString &part : parts) {
        if (!allDigits(part)) {
            keys->clear();
            *error = QStringLiteral("Lista de chaves mal formada: a chave \"%1\" não é "
                                    "numérica.")
                         .arg(part.left(30));
            return false;
        }
        keys->append(part);
    }
    return true;
}

QString joinKeyList(const QStringList &keys)
{
    QString s = QStringLiteral("_");
    for (const QString &k : keys)
        s += k + u'_';
    return s;
}

} // namespace fis
