#pragma once
// Brazilian registration numbers and the key lists that carry document keys in one text.
#include <QString>
#include <QStringList>

namespace fis {

// The 14-digit CNPJ of a 12-digit base (8-digit root + 4-digit establishment), with its two
// check digits. Empty when the base is not 12 digits.
QString cnpjWithCheckDigits(const QString &base12);
// True for 14 digits whose check digits are right.
bool isValidCnpj(const QString &cnpj);

// A key list: "_" followed by every key and "_" ("_0001_0002_"); "_" or "" hold no key.
// Keys must be non-empty runs of digits. On anything else returns false and sets *error.
bool parseKeyList(const QString &text, QStringList *keys, QString *error);
QString joinKeyList(const QStringList &keys);

} // namespace fis
