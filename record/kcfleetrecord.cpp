#include "kcfleetrecord.h"

#include "kcfilesync.h"
#include "kcradioid.h"
#include "kcradioprotocol.h"
#include "kcradiowords.h"
#include "kcserialports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>

QJsonObject KcFleetRecordEntry::toJson() const
{
    QJsonObject stored;
    for (auto it = registers.cbegin(); it != registers.cend(); ++it)
        stored.insert(QStringLiteral("S%1").arg(it.key()), it.value());
    QJsonObject object{
        {QStringLiteral("time"), time},
        {QStringLiteral("network"), network},
        {QStringLiteral("role"), KcRadioWords::roles().value(role)},
        {QStringLiteral("port"), port},
        {QStringLiteral("adapterSerial"), adapterSerial},
        {QStringLiteral("model"), KcRadioWords::models().value(radioType)},
        {QStringLiteral("mode"), KcRadioWords::modes().value(netMode)},
        {QStringLiteral("id"), id},
        {QStringLiteral("index"), isStarAirborne() ? QJsonValue(index) : QJsonValue()},
        {QStringLiteral("rateFound"), rateFound},
        {QStringLiteral("rateSet"), rateSet},
        {QStringLiteral("registers"), stored},
        {QStringLiteral("outcome"), outcome},
        {QStringLiteral("verified"), verified},
        {QStringLiteral("reason"), reason},
        {QStringLiteral("seconds"), qRound64(seconds * 1000) / 1000.0},
        {QStringLiteral("version"), version}};
    if (!source.isEmpty())
        object.insert(QStringLiteral("source"), source);
    return object;
}

bool KcFleetRecordEntry::claimsId() const
{
    if (source != QLatin1String("window"))
        return true;
    return !outcome.startsWith(QLatin1String("read")) &&
           !outcome.startsWith(QLatin1String("erase")) && outcome != QLatin1String("silent") &&
           outcome != QLatin1String("port-failed");
}

std::optional<KcFleetRecordEntry> KcFleetRecordEntry::fromJson(const QJsonObject &object,
                                                               QString *error)
{
    KcFleetRecordEntry entry;
    auto word = [&](const char *key, const QStringList &words, int &into) {
        into = words.indexOf(object.value(QLatin1String(key)).toString());
        if (into < 0 && error)
            *error = QStringLiteral("\"%1\" is not one of %2")
                         .arg(QLatin1String(key), words.join(QStringLiteral(", ")));
        return into >= 0;
    };
    // A field that is there with the wrong kind of value is named as such,
    // not as missing.
    auto text = [&](const char *key, QString &into, const QString &kind) {
        const QJsonValue value = object.value(QLatin1String(key));
        const bool digits = kind != QLatin1String("a string");
        if (!value.isString() || (digits && !KcRadioId::acceptedDigits(value.toString()))) {
            if (error)
                *error = value.isUndefined()
                             ? QStringLiteral("\"%1\" is missing").arg(QLatin1String(key))
                             : QStringLiteral("\"%1\" must be %2").arg(QLatin1String(key), kind);
            return false;
        }
        into = value.toString();
        return true;
    };
    const QString string = QStringLiteral("a string");
    // A window read that found no ID records an empty one.
    const bool fromWindow =
        object.value(QStringLiteral("source")).toString() == QLatin1String("window");
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QString idKind = fromWindow && id.isString() && id.toString().isEmpty()
                               ? string
                               : QStringLiteral("a string of digits");
    if (!text("network", entry.network, string) ||
        !word("role", KcRadioWords::roles(), entry.role) ||
        !word("model", KcRadioWords::models(), entry.radioType) ||
        !word("mode", KcRadioWords::modes(), entry.netMode) || !text("id", entry.id, idKind) ||
        !text("outcome", entry.outcome, string))
        return std::nullopt;
    if (!object.value(QStringLiteral("verified")).isBool()) {
        if (error)
            *error = object.value(QStringLiteral("verified")).isUndefined()
                         ? QStringLiteral("\"verified\" is missing")
                         : QStringLiteral("\"verified\" must be true or false");
        return std::nullopt;
    }
    entry.verified = object.value(QStringLiteral("verified")).toBool();
    entry.time = object.value(QStringLiteral("time")).toString();
    entry.port = object.value(QStringLiteral("port")).toString();
    entry.adapterSerial = object.value(QStringLiteral("adapterSerial")).toString();
    entry.index = object.value(QStringLiteral("index")).toInt();
    entry.rateFound =
        object
            .value(object.contains(QStringLiteral("rateFound")) ? QStringLiteral("rateFound")
                                                                : QStringLiteral("rate"))
            .toInt();
    entry.rateSet = object.value(QStringLiteral("rateSet")).toInt();
    const QJsonObject stored = object.value(QStringLiteral("registers")).toObject();
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        bool ok = false;
        const int reg = it.key().mid(1).toInt(&ok);
        if (it.key().startsWith(QLatin1Char('S')) && ok)
            entry.registers.insert(reg, it.value().toString());
    }
    entry.reason = object.value(QStringLiteral("reason")).toString();
    entry.seconds = object.value(QStringLiteral("seconds")).toDouble();
    entry.version = object.value(QStringLiteral("version")).toString();
    entry.source = object.value(QStringLiteral("source")).toString();
    return entry;
}

namespace KcFleetRecord {

Contents parse(const QByteArray &bytes)
{
    Contents contents;
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        // The text after the last newline is a line that was never finished.
        if (i == lines.size() - 1) {
            contents.problems.append(
                {i + 1, QStringLiteral("the last line is incomplete (a run cut off while "
                                       "writing it); skipped")});
            continue;
        }
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            contents.problems.append({i + 1, QStringLiteral("not a JSON object; skipped")});
            continue;
        }
        // A network's link test has a line of its own, kept whole.
        if (document.object().value(QStringLiteral("kind")).toString() == QLatin1String("link")) {
            contents.links.append(document.object());
            continue;
        }
        QString error;
        const std::optional<KcFleetRecordEntry> entry =
            KcFleetRecordEntry::fromJson(document.object(), &error);
        if (!entry) {
            contents.problems.append({i + 1, error + QStringLiteral("; skipped")});
            continue;
        }
        contents.entries.append(*entry);
    }
    return contents;
}

} // namespace KcFleetRecord

KcFleetRecordWriter::KcFleetRecordWriter(const QString &path) : mPath(path), mFile(path) {}

KcFleetRecordWriter::~KcFleetRecordWriter() = default;

QString KcFleetRecordWriter::lockPath() const
{
    // A record that is no plain file (a device) keeps the lock beside the
    // name given: the device's folder is no place for it.
    const QFileInfo info(mPath);
    if (info.exists() && !info.isFile())
        return mPath + QStringLiteral(".lock");
    const QString canonical = info.exists() ? info.canonicalFilePath()
                                            : QFileInfo(info.absolutePath()).canonicalFilePath();
    if (canonical.isEmpty())
        return mPath + QStringLiteral(".lock");
    return (info.exists() ? canonical : canonical + QLatin1Char('/') + info.fileName()) +
           QStringLiteral(".lock");
}

void KcFleetRecordWriter::discardIfNew()
{
    if (!mCreated || mAppended || !mFile.isOpen())
        return;
    mFile.close();
    QFile::remove(mPath);
}

bool KcFleetRecordWriter::fail(const QString &message)
{
    mError = message;
    return false;
}

bool KcFleetRecordWriter::open(int lockWaitMs)
{
    mLock = std::make_unique<QLockFile>(lockPath());
    // A lock is stale only when its process is gone, however old it is: a
    // fleet may take longer than any fixed age.
    mLock->setStaleLockTime(0);
    if (!mLock->tryLock(lockWaitMs)) {
        qint64 pid = 0;
        QString host, application;
        if (mLock->error() == QLockFile::LockFailedError &&
            mLock->getLockInfo(&pid, &host, &application))
            return fail(
                QStringLiteral("%1 is in use by %2 (process %3 on %4); one run at a "
                               "time writes a record")
                    .arg(mPath, application.isEmpty() ? QStringLiteral("kcradio") : application)
                    .arg(pid)
                    .arg(host));
        if (mLock->error() == QLockFile::LockFailedError)
            // An empty lock file, or one a power loss cut short, names no
            // process to ask about: only a person can tell it is stale.
            return fail(QStringLiteral("cannot lock %1: the lock file %2 names no process; it "
                                       "may be stale (left by a power loss or a crash). If no "
                                       "kcradio on this or another computer is writing %1, "
                                       "remove %2 and run again")
                            .arg(mPath, lockPath()));
        return fail(QStringLiteral("cannot lock %1 (%2)")
                        .arg(mPath, mLock->error() == QLockFile::PermissionError
                                        ? QStringLiteral("permission denied")
                                        : QStringLiteral("lock file %1").arg(lockPath())));
    }

    const bool existed = QFileInfo::exists(mPath);
    // Only a plain file is read: a device would never end. It is read
    // through a handle of its own, so that the appending one never moves.
    if (QFileInfo(mPath).isFile()) {
        QFile reader(mPath);
        if (reader.open(QIODevice::ReadOnly))
            mExisting = reader.readAll();
    }
    if (!mFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot open %1: %2").arg(mPath, mFile.errorString()));
    mCreated = !existed;
    // The new file's name must survive a power loss as well as its lines.
    if (!existed)
        KcFileSync::syncFolder(QFileInfo(mPath).absolutePath());
    // A line cut off by a crash is ended here, so that the next entry starts
    // a line of its own; reading skips the cut line.
    if (!mExisting.isEmpty() && !mExisting.endsWith('\n')) {
        QString why;
        if (mFile.write("\n", 1) != 1 || !mFile.flush() || !KcFileSync::syncFile(mFile, &why))
            return fail(QStringLiteral("cannot write %1: %2")
                            .arg(mPath, why.isEmpty() ? mFile.errorString() : why));
    }
    return true;
}

bool KcFleetRecordWriter::append(const KcFleetRecordEntry &entry)
{
    return appendLine(entry.toJson());
}

bool KcFleetRecordWriter::appendLine(const QJsonObject &object)
{
    if (!mFile.isOpen())
        return fail(QStringLiteral("%1 is not open").arg(mPath));
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    const qint64 sizeBefore = mFile.size();
    const qint64 written = mFile.write(line);
    if (written != line.size() || !mFile.flush()) {
        const QString why =
            written < 0 || written == line.size()
                ? mFile.errorString()
                : QStringLiteral("only %1 of %2 bytes written").arg(written).arg(line.size());
        undoAppend(sizeBefore);
        return fail(QStringLiteral("cannot write %1: %2").arg(mPath, why));
    }
    QString why;
    if (!KcFileSync::syncFile(mFile, &why)) {
        undoAppend(sizeBefore);
        return fail(QStringLiteral("cannot sync %1 to the disk: %2").arg(mPath, why));
    }
    mAppended = true;
    return true;
}

void KcFleetRecordWriter::undoAppend(qint64 sizeBefore)
{
    // A line the disk took only in part (a full disk) must not stay torn,
    // and one that may not have reached the disk must not stay to be written
    // twice when its owner tries it again: the record goes back to its size
    // before the line. Only a plain file can be cut back; a device keeps
    // nothing to cut.
    if (!QFileInfo(mPath).isFile() || mFile.size() == sizeBefore)
        return;
    if (mFile.resize(sizeBefore))
        KcFileSync::syncFile(mFile, nullptr);
}
