#pragma once

#include <QByteArray>
#include <QString>

// Picks values out of a radio's settings listing (its answer to "AT&V").
// An entry starts with the register name, carries its value after an equals
// sign and ends at the next blank; the rest of the listing is the radio's own
// business. Both functions accept any bytes.
namespace KcSettingsListing {

// Value of the first S104 entry, the radio ID, as text (leading zeros kept).
// Empty when there is no usable entry.
QString parseRadioID(const QByteArray &listing);

// Value of the first S102 entry, the baud-rate flag. 115200 when there is no
// usable entry; 0 when its value is not a decimal number.
int parseBaudRateFlag(const QByteArray &listing);

// What parseBaudRateFlag reports when the listing has no usable S102 entry.
constexpr int NoBaudRateFlag = 115200;

} // namespace KcSettingsListing
