#pragma once

#include "kcfleetplan.h"
#include "kcserialports.h"

// Which device each radio of a plan is on. Only looks: nothing is opened.
namespace KcFleetPorts {

struct Resolved
{
    QString path;          // what is opened
    QString adapterSerial; // the USB adapter's serial number, when known
};

// The port of every radio, in the plan's order: a path or port name as
// given (it must exist), "serial=XYZ" through the serial numbers of ports.
// A missing or busy port, a path that is no serial device (a folder, a
// plain file), a missing adapter, an adapter serial number that
// two adapters report, and a device named twice (also through two paths, a link say: see
// KcSerialPorts::deviceIdentity) are problems on the radio's line.
QList<Resolved> resolve(const QList<KcFleetRadio> &radios, const QList<KcSerialPorts::Port> &ports,
                        QList<KcFleetProblem> &problems);

} // namespace KcFleetPorts
