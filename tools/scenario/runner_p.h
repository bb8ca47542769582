#pragma once
// What the runner's files share: the includes, the failure that ends a statement, and small
// helpers for names and texts.
#include "runner.h"

#include "app/screenworkspace.h"
#include "data/dataset.h"
#include "data/packet.h"
#include "framework/hostdatabase.h"
#include "framework/quorvin.h"
#include "package/packageprotocol.h"
#include "services/rdmEmisGuiaPrv.h"
#include "testkit/fakeappserver.h"
#include "testkit/recordinghostui.h"
#include "widgets/errorguard.h"
#include "widgets/maskedit.h"

#if __has_include("widgets/dbgrid.h")
#include "widgets/dbgrid.h"
#define FIS_SCENARIO_HAVE_DBGRID 1
#endif

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace fis::scenario {

// Thrown to end the statement that failed; the failure is already reported.
struct StepFailed
{
};

inline const QString kModuleFile = QStringLiteral("libPKG_FIS02900.so");
inline const QString kDefaultDate = QStringLiteral("02/01/2026");

inline Runner *g_runner = nullptr;

inline QWidget *formFactory(const FisFormRequest *request)
{
    return g_runner ? g_runner->createForm(request) : nullptr;
}

inline QString stripMnemonic(QString text)
{
    const int tab = int(text.indexOf(QLatin1Char('\t')));
    if (tab >= 0)
        text.truncate(tab);
    text.remove(QLatin1Char('&'));
    return text.trimmed();
}

inline QString describeWidget(const QWidget *w)
{
    if (!w)
        return QStringLiteral("nothing");
    if (!w->objectName().isEmpty())
        return w->objectName();
    return QStringLiteral("an unnamed %1").arg(QString::fromLatin1(w->metaObject()->className()));
}

// The named control that stands for w: w itself, or its nearest named ancestor (the inner
// editor of a grid, the line edit of a combo).
inline QWidget *namedOwner(QWidget *w)
{
    while (w && w->objectName().isEmpty() && !w->isWindow())
        w = w->parentWidget();
    return w;
}

inline QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

inline QString sqlType(const TableColumn &c)
{
    switch (c.type) {
    case ColumnType::String:
        return QStringLiteral("VARCHAR(%1)").arg(c.size > 0 ? c.size : kDefaultStringSize);
    case ColumnType::Fixed:
        return QStringLiteral("CHAR(%1)").arg(c.size);
    case ColumnType::Float:
        return QStringLiteral("DOUBLE PRECISION");
    case ColumnType::Date:
        return QStringLiteral("DATE");
    }
    return QString();
}

inline FieldType fieldType(ColumnType t)
{
    switch (t) {
    case ColumnType::String:
        return FieldType::String;
    case ColumnType::Fixed:
        return FieldType::FixedString;
    case ColumnType::Float:
        return FieldType::Float;
    case ColumnType::Date:
        return FieldType::DateTime;
    }
    return FieldType::String;
}

// SQL statements of a block, split at the semicolons outside quotes.
inline QStringList splitSql(const QString &text)
{
    QStringList out;
    QString current;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (c == QLatin1Char(';') && !quoted) {
            if (!current.trimmed().isEmpty())
                out << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

} // namespace fis::scenario
