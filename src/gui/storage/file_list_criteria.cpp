#include "file_list_criteria.h"

#include "core/storage/recording_name.h"

namespace korvante {

float thresholdKmh(const QString &text, int unitPosition)
{
    const std::string bytes = text.toStdString();
    double kmh = static_cast<double>(leadingInteger(bytes));
    if (unitPosition == UnitMileH)
        kmh *= 1.609344;
    else if (unitPosition == UnitKnot)
        kmh *= 1.852;
    return static_cast<float>(kmh);
}

std::optional<QDate> pickerDateOfName(std::string_view name)
{
    const std::string_view field = nameField(name, 1);
    const auto part = [&](size_t from, size_t length) {
        return from < field.size() ? leadingInteger(field.substr(from, length)) : 0;
    };
    NameDateTime when;
    when.year = part(0, 4);
    when.month = part(4, 2);
    when.day = part(6, 2);
    const QDate date(when.year, when.month, when.day);
    // The name's own rules (year 1900 on, day 1..31) and the calendar's
    // (no 31 April) must both hold for the picker to take it.
    if (!when.isValid() || !date.isValid())
        return std::nullopt;
    return date;
}

std::optional<int64_t> localMidnight(const QDate &date)
{
    if (!date.isValid())
        return std::nullopt;
    NameDateTime when;
    when.year = date.year();
    when.month = date.month();
    when.day = date.day();
    const std::optional<std::time_t> t = when.toLocalTime();
    if (!t)
        return std::nullopt;
    return static_cast<int64_t>(*t);
}

} // namespace korvante
