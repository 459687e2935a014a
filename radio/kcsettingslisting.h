#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

// Picks values out of a radio's settings listing (its answer to "AT&V").
// An entry "S<nnn>=<value>" starts with the register name, carries its value
// right after the equals sign and ends at a blank, tab, CR or LF; the rest of
// the listing is the radio's own business. All functions accept any bytes.
namespace KcSettingsListing {

// Value of the first entry of register reg, as text (leading zeros kept);
// nothing when the listing has no such entry.
std::optional<QString> registerValue(const QByteArray &listing, int reg);

// Value of the first S104 entry, the radio ID. Empty when there is none.
QString parseRadioID(const QByteArray &listing);

// Value of the first S102 entry, the baud-rate flag. 115200 when there is no
// S102 entry; 0 when its value is not a decimal number.
int parseBaudRateFlag(const QByteArray &listing);

// What parseBaudRateFlag reports when the listing has no S102 entry.
constexpr int NoBaudRateFlag = 115200;

// Every register the listing names ("S<digits>="), with the value that
// registerValue gives it, in register order.
QMap<int, QString> registers(const QByteArray &listing);

// True for a line that holds at least one register entry.
bool hasEntry(const QByteArray &line);

} // namespace KcSettingsListing
