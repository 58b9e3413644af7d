#include "ui/common/ValueLabelText.h"

// QString::toDouble/toInt and QString::arg without %L read and write the C
// locale whatever the user's is, so the texts need no locale guard.

namespace valueLabelText {

namespace {

constexpr int kQFallbackTenths = 10;
// Typed decimals such as 2.3 are a hair below their value in binary; the
// nudge keeps truncation from landing one raw unit short.
constexpr double kTypedValueNudge = 1e-9;

int truncateTyped(double value)
{
    return static_cast<int>(value + (value < 0 ? -kTypedValueNudge : kTypedValueNudge));
}

}  // namespace

QString formatDb(double db)
{
    if (db <= -60.0)
        return "-∞ dB";
    return QString("%1 dB").arg(db, 0, 'f', 1);
}

QString formatFreq(double hz)
{
    if (hz >= 1000.0)
        return QString("%1 kHz").arg(hz / 1000.0, 0, 'f', 1);
    return QString("%1 Hz").arg(hz, 0, 'f', 0);
}

QString formatQTenths(int tenths)
{
    return QString::number(tenths / 10.0, 'f', 1);
}

QString formatPercent(int percent)
{
    return QString("%1%").arg(percent);
}

int parseDbTenths(const QString& text)
{
    QString value = text;
    value.remove(" dB").remove("dB");
    value = value.trimmed();
    if (value.contains("-∞") || value.contains("inf"))
        return -600;
    bool ok = false;
    const double db = value.toDouble(&ok);
    return ok ? truncateTyped(db * 10.0) : 0;
}

int parseFreqHz(const QString& text)
{
    QString value = text;
    const bool kilo = value.contains("kHz") || value.contains("khz") || value.contains("KHz");
    for (const char* unit : {" kHz", "kHz", " khz", "khz", " KHz", "KHz", " Hz", "Hz"})
        value.remove(unit);
    value = value.trimmed();
    bool ok = false;
    const double hz = value.toDouble(&ok);
    return ok ? truncateTyped(kilo ? hz * 1000.0 : hz) : 0;
}

int parseQTenths(const QString& text)
{
    bool ok = false;
    const double q = text.trimmed().toDouble(&ok);
    return ok ? truncateTyped(q * 10.0) : kQFallbackTenths;
}

int parsePercent(const QString& text)
{
    QString value = text;
    value.remove("%");
    bool ok = false;
    const int percent = value.trimmed().toInt(&ok, 10);
    return ok ? percent : 0;
}

QString editorText(const QString& shown)
{
    QString text = shown;
    const bool kilo = text.contains("k");
    text.remove("k").remove(" Hz").remove(" dB").remove("%");
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (kilo && ok)
        text = QString::number(static_cast<long long>(number * 1000.0));
    return text;
}

}  // namespace valueLabelText
