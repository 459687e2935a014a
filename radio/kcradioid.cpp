#include "kcradioid.h"

#include <QRandomGenerator>

namespace KcRadioId {

quint64 fromDraws(quint32 r1, quint32 r2)
{
    return ((quint64(r1) % 100000) * 100000 + (quint64(r2) % 100000)) % 9000000000ULL +
           1000000000ULL;
}

quint64 generate(quint32 seed)
{
    // Each draw is limited to 15 bits on every platform, so that every ID has
    // ten digits and stays within the range a configuration accepts.
    QRandomGenerator generator(seed);
    const quint32 r1 = generator.bounded(32768u);
    const quint32 r2 = generator.bounded(32768u);
    return fromDraws(r1, r2);
}

std::optional<QString> acceptedDigits(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    quint64 value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + quint64(c.unicode() - '0');
    }
    if (value > MaxId)
        return std::nullopt;
    return digits;
}

} // namespace KcRadioId
