#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The serial ports of this computer as the tools offer them: the panels'
// port lists and the command-line programs share this listing.
namespace KcSerialPorts {

struct Port
{
    // What is opened: the platform's port name (ttyUSB0, COM3) or a path
    // named in KC_EXTRA_SERIAL_PORTS.
    QString name;
    QString description;
    QString manufacturer;
    QString serialNumber;
    // The USB vendor and product, when the system reports both.
    bool hasUsbIds = false;
    quint16 vendorId = 0;
    quint16 productId = 0;
    // Held by another program (or another port object), so not worth offering.
    bool busy = false;
    // A path named in KC_EXTRA_SERIAL_PORTS, not enumerated by the platform.
    bool named = false;
};

// The platform's ports and the paths of KC_EXTRA_SERIAL_PORTS that exist, in
// the order offered (offerOrder). Only looks; nothing is opened.
QList<Port> list();

// What tells two port names of one device apart from two devices: the
// canonical path of the device (symbolic links followed), or the name itself
// where it names no file. On Windows a port name (COM3, \\.\COM12, com12)
// is the bare name in capitals, and paths compare without regard to case.
QString deviceIdentity(const QString &portName);

// What is opened for a port name: on Unix a bare name (ttyUSB0) is the
// device under /dev and a path stands as it is; on Windows every name stands
// as it is (COM3 opens COM3).
QString devicePath(const QString &portName);

// A Windows serial port name, bare (COM3) or in the device namespace
// (\\.\COM12, //./com12, \\?\COM4), as the bare name in capitals: COM12.
// Empty for any other name. Only the rule, the same on every platform.
QString windowsPortName(const QString &name);

// The same order for any list: ports with USB ids first, then the named
// paths, then the other ports of the platform (on-board ports, which seldom
// have a radio on them), each group in the order given. Someone who names a
// path means it, so without an adapter a named path is what a panel starts on.
QList<Port> offerOrder(const QList<Port> &ports);

// Paths named in the environment variable KC_EXTRA_SERIAL_PORTS, separated by
// ':' (';' on Windows, as in PATH). The platform does not enumerate
// pseudo-terminals (the virtual radio, say); this is how the tool can be
// tried without a radio.
QStringList extraPaths();

// Whether a lock file in lockDir (the UUCP convention that Qt's serial port
// and most serial programs follow: "LCK..ttyUSB0" holding the owner's process
// ID) marks the port as held by a running process. A lock whose process is
// gone does not count.
bool isLockedIn(const QString &lockDir, const QString &portName);

// Changes whenever list() may give another answer about the ports named
// (those it gave last): a device node comes or goes, one of these ports is
// locked or let go, a named path appears or vanishes. Costs a few system
// calls where an enumeration costs tens of milliseconds; locks of other
// ports (another program's terminals) leave it alone. Empty where the system
// offers no such sign (Windows): list() must be asked.
QByteArray changeStamp(const QStringList &portNames);

// The folder where serial port locks are kept on this system; empty where
// there is none (Windows).
QString lockDirectory();

} // namespace KcSerialPorts
