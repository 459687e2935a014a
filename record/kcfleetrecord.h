#pragma once

#include "kcfleetproblem.h"

#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <memory>
#include <optional>

class QLockFile;

// One line of a fleet's record: what was written to one radio and how it
// went.
struct KcFleetRecordEntry
{
    QString time; // ISO 8601, UTC
    QString network;
    int role = 0;
    QString port;          // the port that was opened
    QString adapterSerial; // the USB adapter's serial number; empty when unknown
    int radioType = 0;
    int netMode = 0;
    QString id;
    int index = 0;                // star airborne index; 0 for the others
    int rateFound = 0;            // the rate at which the radio answered; 0 when it did not
    int rateSet = 0;              // the rate the run left it set to; 0 when it set none
    QMap<int, QString> registers; // the verified listing's S102, S103, S104, S105, S113
    QString outcome;              // "configured", "refused", ...
    bool verified = false;
    QString reason;
    double seconds = 0;
    QString version; // of kcradio
    QString source;  // "window" for the window's lines; empty (not written) for kcradio's

    bool isStarAirborne() const { return netMode == 1 && role == 1; }
    // Configured and read back with the values sent.
    bool isDone() const { return outcome == QLatin1String("configured") && verified; }
    // Whether the line holds its ID for a pair: every kcradio line, and a
    // window line whose configuration reached the radio. A window read tells
    // the ID a radio already had; a run that reached no radio gave none.
    bool claimsId() const;

    QJsonObject toJson() const;
    // Nothing when a field is missing or of the wrong kind; error says which.
    // Lines written before the two rates had names of their own hold one
    // "rate", the rate found (the fleet's and the window's alike), and no
    // rate set.
    static std::optional<KcFleetRecordEntry> fromJson(const QJsonObject &object, QString *error);
};

// The record is JSON Lines: one entry a line, appended as each radio ends.
namespace KcFleetRecord {

struct Contents
{
    QList<KcFleetRecordEntry> entries;
    // Lines skipped, by their line number in the record: a last line cut off
    // by a crash, or a line that is not an entry. Never fatal.
    QList<KcFleetProblem> problems;
    // The link tests' lines ("kind": "link"), in order.
    QList<QJsonObject> links;
};

Contents parse(const QByteArray &bytes);

} // namespace KcFleetRecord

// Appends entries to a record for one process at a time: a lock file beside
// the record keeps a second kcradio out, each entry goes out as one complete
// line in one write and is synced to the disk before append() returns, so
// that after a crash or a power loss the record holds every entry appended.
class KcFleetRecordWriter
{
public:
    explicit KcFleetRecordWriter(const QString &path);
    ~KcFleetRecordWriter();
    KcFleetRecordWriter(const KcFleetRecordWriter &) = delete;
    KcFleetRecordWriter &operator=(const KcFleetRecordWriter &) = delete;

    // Takes the lock (refused while another process holds it, after up to
    // lockWaitMs), reads what the record holds and opens it for appending;
    // creates it when missing. False with errorString() on any failure.
    bool open(int lockWaitMs = 0);
    // The record's bytes when open() read them.
    QByteArray existing() const { return mExisting; }
    // One line, written whole and synced. False with errorString() when the
    // line could not be written or synced; the record is then cut back to
    // its size before the line (nothing of it stays), and the caller stops
    // there.
    bool append(const KcFleetRecordEntry &entry);
    // Any other line of the record (a network's link test), written alike.
    bool appendLine(const QJsonObject &object);
    QString errorString() const { return mError; }
    // The lock file: beside the file the record's path leads to, so that
    // every path to one record (a link, say) shares one lock.
    QString lockPath() const;
    // Removes the record that open() created when nothing was appended: a
    // run refused before it began leaves no empty record behind.
    void discardIfNew();

private:
    bool fail(const QString &message);
    // Cuts the record back to its size before a line that failed.
    void undoAppend(qint64 sizeBefore);

    QString mPath;
    std::unique_ptr<QLockFile> mLock;
    QFile mFile;            // open for appending, unbuffered: one write per line
    bool mCreated = false;  // open() made the file
    bool mAppended = false; // a line went in
    QByteArray mExisting;
    QString mError;
};
