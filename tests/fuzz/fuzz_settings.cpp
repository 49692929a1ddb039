// libFuzzer target: any database.ini content either gives four fields or is
// ignored as a whole, and the fields obey the record's rules.
#include "SettingsRecord.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QStringList> fields = SettingsRecord::parse(content);

    if (!fields.has_value() != (size > size_t(SettingsRecord::MaxBytes)))
        std::abort(); // ignored exactly when the file is too large
    if (!fields)
        return 0;
    if (fields->size() != SettingsRecord::FieldCount)
        std::abort();
    bool ended = false;
    for (int k = 0; k < SettingsRecord::FieldCount; ++k) {
        const QString &field = fields->at(k);
        if (field.contains(QChar(0)))
            std::abort(); // a NUL ends the content
        if (k < SettingsRecord::Host && field.contains(QLatin1Char(',')))
            std::abort(); // only the host may hold commas
        if (ended && !field.isEmpty())
            std::abort(); // an empty field ends the split
        ended = ended || field.isEmpty();
    }
    // Four complete fields that fit are written, and read back the same.
    if (!ended && SettingsRecord::roundTrips(*fields)
        != (SettingsRecord::format(*fields).size() <= SettingsRecord::MaxBytes))
        std::abort();
    return 0;
}
