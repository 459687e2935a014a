#pragma once

#include "kclinktest.h"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <functional>

// The link tests of a fleet's networks, one network at a time: radios side
// by side on a bench disturb each other, and figures taken at once would
// blame the wrong pair. Each test's line goes to the record through
// appendLine as soon as it ends; a network whose latest recorded test says
// "linked" with the same radios and ID is skipped.
class KcFleetLinkTests : public QObject
{
    Q_OBJECT

public:
    struct Network
    {
        QString name;
        QString id;
        QList<KcLinkRadio> radios; // the ground radio first
    };

    // Each test, as it starts, goes to show (its progress shown).
    KcFleetLinkTests(const QList<Network> &networks, const KcLinkTest::Options &options,
                     const QList<QJsonObject> &recordedLinks,
                     std::function<bool(const QJsonObject &line)> appendLine,
                     std::function<void(KcLinkTest *test)> show, QObject *parent = nullptr);

    void start();
    void abort();
    bool isRunning() const { return mRunning; }
    // The highest exit status of the tests (1 when a network does not link).
    int exitCode() const { return mExitCode; }
    QJsonArray results() const { return mResults; }
    QString summary() const { return mSummary; }

    // Whether a recorded line says this network linked with these radios.
    static bool linkedBefore(const QList<QJsonObject> &recordedLinks, const Network &network);

signals:
    // A network tested, or skipped as linked before.
    void networkStarted(const QString &network, bool skipped);
    void finished();

private:
    void testNext();

    QList<Network> mNetworks;
    KcLinkTest::Options mOptions;
    QList<QJsonObject> mRecordedLinks;
    std::function<bool(const QJsonObject &)> mAppendLine;
    std::function<void(KcLinkTest *)> mShow;
    int mNext = 0;
    KcLinkTest *mTest = nullptr;
    bool mRunning = false;
    bool mStopped = false;
    int mExitCode = 0;
    QJsonArray mResults;
    QString mSummary;
};
