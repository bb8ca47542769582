#include "framework/reportparams.h"

namespace fis {

void ReportParams::declare(const QString &name, ReportParamType type)
{
    if (ReportParam *p = find(name)) {
        p->type = type;
        return;
    }
    m_params.append(ReportParam{name, type, Variant()});
}

int ReportParams::indexOf(const QString &name) const
{
    for (int i = 0; i < m_params.size(); ++i) {
        if (m_params.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

ReportParam *ReportParams::find(const QString &name)
{
    const int i = indexOf(name);
    return i < 0 ? nullptr : &m_params[i];
}

const ReportParam *ReportParams::find(const QString &name) const
{
    const int i = indexOf(name);
    return i < 0 ? nullptr : &m_params.at(i);
}

bool ReportParams::setValue(const QString &name, const Variant &value)
{
    ReportParam *p = find(name);
    if (!p)
        return false;
    p->value = value;
    return true;
}

Variant ReportParams::value(const QString &name) const
{
    const ReportParam *p = find(name);
    return p ? p->value : Variant();
}

void ReportParams::clearValues()
{
    for (ReportParam &p : m_params)
        p.value = Variant();
}

} // namespace fis

bool ExistParam(const fis::ReportParams &reportParams, const QString &name)
{
    return reportParams.contains(name);
}
