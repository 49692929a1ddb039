#include "SettingsRecord.h"

std::optional<QStringList> SettingsRecord::parse(const QByteArray &content)
{
    if (content.size() > MaxBytes)
        return std::nullopt;

    const qsizetype nul = content.indexOf('\0');
    QString rest = QString::fromUtf8(nul < 0 ? content : content.left(nul));

    QStringList fields(FieldCount);
    for (int k = 0; k < FieldCount; ++k) {
        // The first three fields need a comma after them; the host takes the rest,
        // commas and line ends included.
        const qsizetype end = k < Host ? rest.indexOf(QLatin1Char(',')) : rest.size();
        if (end < 1)
            break;
        fields[k] = rest.left(end);
        rest = rest.mid(end + 1);
    }
    return fields;
}

QByteArray SettingsRecord::format(const QStringList &fields)
{
    Q_ASSERT(fields.size() == FieldCount);
    return fields.join(QLatin1Char(',')).toUtf8();
}

bool SettingsRecord::roundTrips(const QStringList &fields)
{
    return parse(format(fields)) == fields;
}
