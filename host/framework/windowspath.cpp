#include "framework/windowspath.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace fis {

QString resolveWindowsPath(const QString &path, const QString &base)
{
    QString text = path.trimmed();
    if (text.isEmpty())
        return {};
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    bool absolute = text.startsWith(QLatin1Char('/'));
    if (drive.match(text).hasMatch()) {
        text = text.mid(2);
        absolute = true;
    }
    QString current = absolute ? QDir::rootPath() : base;
    const QStringList parts = text.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            current = QFileInfo(current).absolutePath();
            continue;
        }
        const QDir dir(current);
        if (QFileInfo::exists(dir.filePath(part))) {
            current = dir.filePath(part);
            continue;
        }
        const QStringList entries =
            dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        const auto match = std::find_if(entries.cbegin(), entries.cend(), [&](const QString &e) {
            return e.compare(part, Qt::CaseInsensitive) == 0;
        });
        if (match == entries.cend())
            return {};
        current = dir.filePath(*match);
    }
    return QFileInfo(current).isFile() ? QDir::cleanPath(current) : QString();
}

} // namespace fis
