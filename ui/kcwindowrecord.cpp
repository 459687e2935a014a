#include "kcwindowrecord.h"

#include "kcfleetrecord.h"
#include "kcradioid.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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
    entry.rate = line.rate;
    entry.outcome = line.outcome;
    entry.reason = line.reason;
    entry.seconds = mClock.isValid() ? double(mClock.elapsed()) / 1000.0 : 0.0;
    entry.version = QStringLiteral(KC_VERSION);
    entry.source = QStringLiteral("window");
    mClock.invalidate();

    const QString file = path();
    QDir().mkpath(QFileInfo(file).absolutePath());
    KcFleetRecordWriter writer(file);
    if (writer.open() && writer.append(entry))
        return true;
    if (error)
        *error = writer.errorString();
    return false;
}

bool KcWindowRecord::isFirstFailure()
{
    static bool failedBefore = false;
    const bool first = !failedBefore;
    failedBefore = true;
    return first;
}

QSet<quint64> KcWindowRecord::recordedIds()
{
    QFile file(path());
    QSet<quint64> ids;
    if (!file.open(QIODevice::ReadOnly))
        return ids;
    for (const KcFleetRecordEntry &entry : KcFleetRecord::parse(file.readAll()).entries)
        if (KcRadioId::acceptedDigits(entry.id))
            ids.insert(entry.id.toULongLong());
    return ids;
}
