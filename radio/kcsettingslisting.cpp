#include "kcsettingslisting.h"

namespace KcSettingsListing {
namespace {

bool isSeparator(char byte)
{
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

// The listing up to its first zero byte: nothing a radio lists follows one.
QByteArray listingBytes(const QByteArray &listing)
{
    const int zero = listing.indexOf('\0');
    return zero < 0 ? listing : listing.left(zero);
}

} // namespace

std::optional<QString> registerValue(const QByteArray &listing, int reg)
{
    const QByteArray bytes = listingBytes(listing);
    const QByteArray name = 'S' + QByteArray::number(reg) + '=';
    // The equals sign belongs to the name, so "S1040=" is not taken for S104.
    const int at = bytes.indexOf(name);
    if (at < 0)
        return std::nullopt;
    int end = at + name.size();
    while (end < bytes.size() && !isSeparator(bytes.at(end)))
        ++end;
    return QString::fromUtf8(bytes.mid(at + name.size(), end - at - name.size()));
}

QString parseRadioID(const QByteArray &listing)
{
    return registerValue(listing, 104).value_or(QString());
}

int parseBaudRateFlag(const QByteArray &listing)
{
    const std::optional<QString> value = registerValue(listing, 102);
    if (!value)
        return NoBaudRateFlag;
    bool ok = false;
    const int flag = value->toInt(&ok, 10);
    return ok ? flag : 0;
}

QMap<int, QString> registers(const QByteArray &listing)
{
    const QByteArray bytes = listingBytes(listing);
    QMap<int, QString> found;
    for (int at = bytes.indexOf('S'); at >= 0; at = bytes.indexOf('S', at + 1)) {
        int digits = at + 1;
        while (digits < bytes.size() && bytes.at(digits) >= '0' && bytes.at(digits) <= '9')
            ++digits;
        // Nine digits at most: a register number fits an int.
        if (digits == at + 1 || digits - at - 1 > 9 || digits >= bytes.size() ||
            bytes.at(digits) != '=')
            continue;
        const int reg = bytes.mid(at + 1, digits - at - 1).toInt();
        if (!found.contains(reg))
            found.insert(reg, registerValue(bytes, reg).value_or(QString()));
    }
    return found;
}

bool hasEntry(const QByteArray &line)
{
    for (int at = line.indexOf('S'); at >= 0; at = line.indexOf('S', at + 1)) {
        if (at > 0 && !isSeparator(line.at(at - 1)))
            continue;
        int digits = at + 1;
        while (digits < line.size() && line.at(digits) >= '0' && line.at(digits) <= '9')
            ++digits;
        if (digits > at + 1 && digits < line.size() && line.at(digits) == '=')
            return true;
    }
    return false;
}

} // namespace KcSettingsListing
