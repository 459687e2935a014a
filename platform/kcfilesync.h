#pragma once

#include <QString>

class QFile;

// Putting what was written on the disk, for a journal that must hold every
// line after a crash or a power loss. Each is one system call behind its
// platform.
namespace KcFileSync {

// Asks the system to write the file's data to the disk and waits for it
// (fsync on Unix, _commit on Windows). A file that the system cannot sync
// (a device such as /dev/null) counts as synced: there is nothing to keep.
// False with the system's reason in error when the file is not open or the
// sync failed.
bool syncFile(QFile &file, QString *error = nullptr);

// Makes a new file's name in folder survive a power loss as well as its
// data (fsync on the folder on Unix). On Windows the name is recorded with
// the file's own metadata, which syncFile already writes.
void syncFolder(const QString &folder);

} // namespace KcFileSync
