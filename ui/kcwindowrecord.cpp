#include "kcwindowrecord.h"

#include "kcfleetrecord.h"
#include "kcradioid.h"
#include "kcradiotimer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QPointer>
#include <QStandardPaths>
#include <QTextStream>

QString KcWindowRecord::path()
{
    const QString named = qEnvironmentVariable("KC_WINDOW_RECORD");
    if (!named.isEmpty())
        return named;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/window-record.jsonl");
}

void KcWindowRecord::begin()
{
    mClock.start();
}

namespace {

struct WaitingLine
{
    QString path;
    KcFleetRecordEntry entry;
    QJsonObject link; // a link test's line instead of the entry
    QJsonObject json() const { return link.isEmpty() ? entry.toJson() : link; }
};

struct RecordState
{
    QList<WaitingLine> waiting;
    bool failing = false;      // the last append did not go in
    bool failureIsNew = false; // ... and the one before it did
    QPointer<KcRadioTimer> retry;
    // The IDs of the record as last read, and what the file was then: a
    // large record is read again only when it changed.
    QString idsPath;
    qint64 idsSize = -1;
    QDateTime idsModified;
    QSet<quint64> ids;
};

RecordState &state()
{
    static RecordState recordState;
    return recordState;
}

// Writes the lines that wait for path, in order; those that do not go in
// stay. Only a plain file (or none yet) is a record: opening a pipe for
// writing would wait for a reader. A new line may make the record's folder;
// a later try does not bring back a folder that was removed meanwhile.
bool writeWaitingFor(const QString &path, int lockWaitMs, bool makeFolder, QString *error)
{
    QList<WaitingLine> &waiting = state().waiting;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("%1 is not a plain file").arg(path);
        return false;
    }
    if (makeFolder)
        QDir().mkpath(info.absolutePath());
    KcFleetRecordWriter writer(path);
    if (!writer.open(lockWaitMs)) {
        *error = writer.errorString();
        return false;
    }
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->path != path) {
            ++it;
            continue;
        }
        if (!(it->link.isEmpty() ? writer.append(it->entry) : writer.appendLine(it->link))) {
            *error = writer.errorString();
            return false;
        }
        it = waiting.erase(it);
    }
    return true;
}

// Tries every record that has lines waiting; true when none wait any more.
bool writeAllWaiting(int lockWaitMs, QString *error)
{
    QStringList paths;
    for (const WaitingLine &line : state().waiting)
        if (!paths.contains(line.path))
            paths << line.path;
    bool written = true;
    for (const QString &path : paths)
        written = writeWaitingFor(path, lockWaitMs, false, error) && written;
    return written;
}

// Tries again a while after a failure, for as long as lines wait.
void scheduleRetry()
{
    RecordState &record = state();
    if (record.waiting.isEmpty()) {
        if (record.retry)
            record.retry->stop();
        return;
    }
    if (!record.retry) {
        record.retry = new KcRadioTimer(QCoreApplication::instance());
        record.retry->setSingleShot(true);
        QObject::connect(record.retry, &KcRadioTimer::timeout, []() {
            QString ignored;
            writeAllWaiting(0, &ignored);
            scheduleRetry();
        });
    }
    if (!record.retry->isActive())
        record.retry->start(KcWindowRecord::RetryIntervalMs);
}

// Appends the line after those that wait, and tries to write them all.
bool queueLine(const WaitingLine &line, QString *error)
{
    const QString file = line.path;
    state().waiting.append(line);
    QString failure;
    const bool written = writeWaitingFor(file, 0, true, &failure);
    RecordState &record = state();
    record.failureIsNew = !written && !record.failing;
    record.failing = !written;
    scheduleRetry();
    if (!written && error)
        *error = failure;
    return written;
}

} // namespace

bool KcWindowRecord::append(KcWindowRecordLine line, QString *error)
{
    KcFleetRecordEntry entry;
    entry.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    entry.role = line.role;
    entry.port = line.port;
    entry.adapterSerial = line.adapterSerial;
    entry.radioType = line.radioType;
    entry.netMode = line.netMode;
    entry.id = line.id;
    entry.index = line.index;
    entry.rateFound = line.rateFound;
    entry.rateSet = line.rateSet;
    entry.outcome = line.outcome;
    entry.reason = line.reason;
    entry.seconds = mClock.isValid() ? double(mClock.elapsed()) / 1000.0 : 0.0;
    entry.version = QStringLiteral(KC_VERSION);
    entry.source = QStringLiteral("window");
    mClock.invalidate();
    return queueLine({path(), entry, QJsonObject()}, error);
}

bool KcWindowRecord::appendLink(QJsonObject line, QString *error)
{
    line.insert(QStringLiteral("source"), QStringLiteral("window"));
    return queueLine({path(), KcFleetRecordEntry(), line}, error);
}

bool KcWindowRecord::isFirstFailure()
{
    return state().failureIsNew;
}

void KcWindowRecord::writeWaitingAtExit()
{
    if (state().waiting.isEmpty())
        return;
    QString error;
    if (writeAllWaiting(3000, &error))
        return;
    QTextStream err(stderr);
    err << "KcRadioConfig: " << state().waiting.size()
        << " line(s) of the window's record could not be written (" << error << "):\n";
    for (const WaitingLine &line : state().waiting)
        err << QJsonDocument(line.json()).toJson(QJsonDocument::Compact) << '\n';
}

QSet<quint64> KcWindowRecord::recordedIds()
{
    RecordState &record = state();
    const QString file = path();
    // Only a plain file is read: a device or a pipe would never end.
    const QFileInfo info(file);
    if (!info.isFile()) {
        record.ids.clear();
        record.idsSize = -1;
    } else if (file != record.idsPath || info.size() != record.idsSize ||
               info.lastModified() != record.idsModified) {
        record.ids.clear();
        QFile reader(file);
        if (reader.open(QIODevice::ReadOnly))
            for (const KcFleetRecordEntry &entry : KcFleetRecord::parse(reader.readAll()).entries)
                if (KcRadioId::acceptedDigits(entry.id))
                    record.ids.insert(entry.id.toULongLong());
        record.idsSize = info.size();
        record.idsModified = info.lastModified();
    }
    record.idsPath = file;
    QSet<quint64> ids = record.ids;
    for (const WaitingLine &line : record.waiting)
        if (KcRadioId::acceptedDigits(line.entry.id))
            ids.insert(line.entry.id.toULongLong());
    return ids;
}
