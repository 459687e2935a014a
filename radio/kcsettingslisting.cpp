#include "kcsettingslisting.h"

namespace KcSettingsListing {
namespace {

// The listing as text: UTF-8 up to its first zero byte. Invalid sequences
// become replacement characters, so any bytes are safe here.
QString listingText(const QByteArray &listing)
{
    const int zero = listing.indexOf('\0');
    return QString::fromUtf8(listing.constData(), zero < 0 ? listing.size() : zero);
}

// The entry that begins at the first occurrence of name and ends before the
// next blank (or at the end of the text). Null when name does not occur.
QString entryToken(const QString &text, const QString &name)
{
    const int start = text.indexOf(name);
    if (start < 0)
        return QString();
    const int blank = text.indexOf(QLatin1Char(' '), start);
    return text.mid(start, blank < 0 ? -1 : blank - start);
}

// An entry is usable when it is longer than its register name and has an
// equals sign; its value is what follows the last one.
bool isUsable(const QString &token)
{
    return token.size() >= 5 && token.contains(QLatin1Char('='));
}

QString valueOf(const QString &token)
{
    return token.mid(token.lastIndexOf(QLatin1Char('=')) + 1);
}

} // namespace

QString parseRadioID(const QByteArray &listing)
{
    QString token = entryToken(listingText(listing), QStringLiteral("S104"));
    // The radio may end an entry with CR LF before the blank; the ID stops there.
    const int lineEnd = token.indexOf(QLatin1String("\r\n"));
    if (lineEnd >= 0)
        token.truncate(lineEnd);
    if (!isUsable(token))
        return QString();
    return valueOf(token);
}

int parseBaudRateFlag(const QByteArray &listing)
{
    const QString token = entryToken(listingText(listing), QStringLiteral("S102"));
    if (!isUsable(token))
        return NoBaudRateFlag;
    // A CR LF left in the token is white space around the number.
    bool ok = false;
    const int flag = valueOf(token).trimmed().toInt(&ok, 10);
    return ok ? flag : 0;
}

} // namespace KcSettingsListing
