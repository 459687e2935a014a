#pragma once

#include <QElapsedTimer>
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
    int index = 0; // star airborne index; 0 for the others
    int rate = 0;  // the rate at which the radio answered; 0 when it did not
    QString outcome;
    QString reason;
    double seconds = 0;
};

// The window's record: one JSON Lines line per configuration, read and erase,
// in the form of a fleet's record (so "kcradio fleet --record" reads it and
// its ID checks see the window's IDs), with "source" "window". Each line is
// written whole, synced and locked by the fleet record's writer; the lock is
// held only while a line is written, so the window and kcradio take turns.
//
// The record lives in the user's data folder; KC_WINDOW_RECORD names another
// file (tests, a shared bench folder).
class KcWindowRecord
{
public:
    static QString path();

    // Starts the clock of a run's seconds.
    void begin();
    // Appends the line, with the seconds since begin(). False with error
    // when the record could not be written; the window goes on regardless.
    bool append(KcWindowRecordLine line, QString *error);

    // True for the first failed append of this process only: the window says
    // once that its record cannot be written, not after every radio.
    static bool isFirstFailure();
    // Every radio ID the record holds.
    static QSet<quint64> recordedIds();

private:
    QElapsedTimer mClock;
};
