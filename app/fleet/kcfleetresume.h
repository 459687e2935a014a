#pragma once

#include "kcfleetplan.h"
#include "kcfleetrecord.h"

// What --resume reads from a record: whether a plan's radio is done.
namespace KcFleetResume {

// Whether the record's latest line for this radio (its network, role, index
// and port: the adapter's serial number for "serial=XYZ", else the device)
// says that it was configured and verified with the plan's model, mode and
// serial rate and with ID id. port is the port the radio is on now.
bool isDone(const QList<KcFleetRecordEntry> &entries, const KcFleetRadio &radio, const QString &id,
            const QString &port);

} // namespace KcFleetResume
