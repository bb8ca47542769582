// The status line under the grids (lblResumo): how many documents or maps the current view lists,
// how many are ticked and what the selection adds up to, in the Brazilian form, marked when a
// selection stays below the R$ 10,00 minimum of a guide.
//
// The line is worked out after the event that changed the rows or the selection has ended (one
// queued refresh however many rows changed), so that it shows the running total the selection
// rules leave behind, not one in the middle of a tick or a reload.
#include "emission/Cli_fis02900.h"

#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>

namespace {

const QString kTicked = QStringLiteral("C");
constexpr double kMinimumGuide = 10.0;

int tickedRows(const fis::ClientDataSet *set)
{
    if (!set->active())
        return 0;
    const fis::Field *tick = set->findField(QStringLiteral("IDCHECK"));
    if (!tick)
        return 0;
    int ticked = 0;
    for (int row = 0; row < set->recordCount(); ++row)
        ticked += tick->valueAt(row).toString() == kTicked;
    return ticked;
}

// The sum of a value over the ticked rows.
double tickedSum(const fis::ClientDataSet *set, const QString &valueField)
{
    if (!set->active())
        return 0;
    const fis::Field *tick = set->findField(QStringLiteral("IDCHECK"));
    const fis::Field *value = set->findField(valueField);
    if (!tick || !value)
        return 0;
    double sum = 0;
    for (int row = 0; row < set->recordCount(); ++row)
        if (tick->valueAt(row).toString() == kTicked)
            sum += value->valueAt(row).toDouble();
    return sum;
}

QString money(double value)
{
    return QStringLiteral("R$ ") +
           QLocale(QLocale::Portuguese, QLocale::Brazil).toString(value, 'f', 2);
}

} // namespace

void TfrmEmiPrevSocial::createSummary()
{
    lblResumo = new QLabel(pnlDados);
    lblResumo->setObjectName(QStringLiteral("lblResumo"));
    lblResumo->setContentsMargins(6, 3, 6, 3);
    dataLayout()->addWidget(lblResumo);

    for (fis::DataLink *link : {dtsPadrao, dtsFunRural}) {
        connect(link, &fis::DataLink::dataSetChanged, this, &TfrmEmiPrevSocial::scheduleSummary);
        connect(link, &fis::DataLink::recordChanged, this, &TfrmEmiPrevSocial::scheduleSummary);
        connect(link, &fis::DataLink::rowInserted, this, &TfrmEmiPrevSocial::scheduleSummary);
        connect(link, &fis::DataLink::rowRemoved, this, &TfrmEmiPrevSocial::scheduleSummary);
        connect(link, &fis::DataLink::stateChanged, this, &TfrmEmiPrevSocial::scheduleSummary);
        connect(link, &fis::DataLink::linkChanged, this, &TfrmEmiPrevSocial::scheduleSummary);
    }
    // The selection's running total also moves with the side set and the report choice.
    connect(cdsForneAux, &fis::ClientDataSet::stateChanged, this,
            &TfrmEmiPrevSocial::scheduleSummary);
    connect(cbbReportNames, &QComboBox::currentIndexChanged, this,
            &TfrmEmiPrevSocial::scheduleSummary);
    updateSummary();
}

void TfrmEmiPrevSocial::scheduleSummary()
{
    if (m_summaryPending)
        return;
    m_summaryPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_summaryPending = false;
            updateSummary();
        },
        Qt::QueuedConnection);
}

void TfrmEmiPrevSocial::updateSummary()
{
    const bool maps = reportIndex() == 2;
    const fis::ClientDataSet *set =
        maps ? cdsFunRural : (stOperacao == QLatin1String("E") ? cdsAprovAgrup : cdsAprov);
    const int listed = set->active() ? set->recordCount() : 0;
    const int ticked = tickedRows(set);

    double total = 0;
    if (maps)
        total = tickedSum(set, QStringLiteral("VRTTCTBLCRE"));
    else if (set == cdsAprovAgrup && groupedPayable())
        total = vrTotalGuia; // what the emission checks against the minimum
    else
        total = tickedSum(set, QStringLiteral("VRTOTIMPONF"));

    const QString what =
        maps ? (listed == 1 ? QStringLiteral("mapa listado") : QStringLiteral("mapas listados"))
             : (listed == 1 ? QStringLiteral("documento listado")
                            : QStringLiteral("documentos listados"));
    QString text = QStringLiteral("%1 %2 · %3 %4 · Total da seleção: %5")
                       .arg(listed)
                       .arg(what)
                       .arg(ticked)
                       .arg(ticked == 1 ? QStringLiteral("marcado") : QStringLiteral("marcados"))
                       .arg(money(total));
    const bool belowMinimum = ticked > 0 && total < kMinimumGuide;
    if (belowMinimum)
        text += QStringLiteral(" (abaixo do mínimo de %1)").arg(money(kMinimumGuide));
    lblResumo->setText(text);
    lblResumo->setProperty("abaixoDoMinimo", belowMinimum);
    lblResumo->setStyleSheet(belowMinimum ? QStringLiteral("QLabel { color: #b00020; }")
                                          : QString());
}
