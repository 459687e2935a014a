#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSet>
#include <QString>

// What the window did to one radio: one configuration, read or erase.
struct KcWindowRecordLine
{
    int role = 0;
    QString port;
    QString adapterSerial; // empty when unknown
    int radioType = 0;
    int netMode = 0;
    QString id;
    int index = 0;     // star airborne index; 0 for the others
    int rateFound = 0; // the rate at which the radio answered; 0 when it did not
    int rateSet = 0;   // the rate the run left it set to; 0 when it set none
    QString outcome;
    QString reason;
    double seconds = 0;
};

// The window's record: one JSON Lines line per configuration, read, erase and
// link test, in the form of a fleet's record (so "kcradio fleet --record" reads it and
// its ID checks see the window's IDs), with "source" "window". Each line is
// written whole, synced and locked by the fleet record's writer; the lock is
// held only while lines are written. A kcradio fleet given the same record
// holds it for its whole run: the window's lines wait in memory meanwhile
// and go in, in order, as soon as the record can be written again.
//
// The record lives in the user's data folder; KC_WINDOW_RECORD names another
// file (tests, a shared bench folder).
class KcWindowRecord
{
public:
    // Between tries at the lines that wait.
    static constexpr int RetryIntervalMs = 5000;

    static QString path();

    // Starts the clock of a run's seconds.
    void begin();
    // Appends the line, with the seconds since begin(), after any that wait.
    // False with error while lines wait; the window goes on regardless.
    bool append(KcWindowRecordLine line, QString *error);
    // Appends a link test's line (KcLinkTest::recordLine) with "source"
    // "window", as append() does.
    static bool appendLink(QJsonObject line, QString *error);

    // True when the last append failed and the one before it did not: the
    // window says once that its record cannot be written, not after every
    // radio, and again only after it could be written in between.
    static bool isFirstFailure();
    // One last try at the lines that wait, at exit, waiting a few seconds
    // for a kcradio run that holds the record. Lines that still cannot go in
    // are written to the standard error, so that a log keeps them.
    static void writeWaitingAtExit();
    // Every radio ID the record holds, and those of the lines that wait.
    static QSet<quint64> recordedIds();

private:
    QElapsedTimer mClock;
};
