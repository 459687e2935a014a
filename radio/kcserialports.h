#pragma once

#include <QList>
#include <QString>

// A serial port as the port search sees it.
struct KcPortEntry
{
    QString name;
    bool busy = false;
    QString description{};
    QString manufacturer{};
    QString serialNumber{};
    quint16 vendorId = 0; // USB ids; 0 when the system reports none
    quint16 productId = 0;
};

namespace KcSerialPorts {

// The system's serial ports, then the paths listed in KC_EXTRA_SERIAL_PORTS
// (separated by ':'; pseudo-terminals are not enumerated by the system).
QList<KcPortEntry> list();

} // namespace KcSerialPorts
