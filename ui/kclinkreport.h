#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class KcLinkTest;

// The bookkeeping of a link test run from the window, without a widget: the
// progress in words and as a count, one line per direction, the verdict and
// the record's line. The link view feeds it the test's signals and shows
// what it says; the words are those of the view's context ("KcLinkView").
class KcLinkReport
{
    Q_DECLARE_TR_FUNCTIONS(KcLinkView)

public:
    // A new run of test (a ground radio and one airborne radio).
    void start(const KcLinkTest *test);
    void radioRead(int radio);
    void trafficStarted();
    // Frames sent so far in the direction from radio "from".
    void frames(int from, int sent);

    // The bar: value of maximum; a maximum of 0 while the radios are read.
    int progressValue() const { return mDoneFrames + mSent; }
    int progressMaximum() const;
    QString progressText() const;

    // Once the test has finished.
    bool passed() const;
    QStringList directionLines() const;
    QString verdict() const;
    // The record's line: the ground radio's ID, and "link-aborted" for a
    // test stopped before its verdict.
    QJsonObject recordLine() const;

    static QString roleWord(int radio);

private:
    const KcLinkTest *mTest = nullptr;
    int mRead = 0;
    bool mTraffic = false;
    int mFrom = 0;       // the direction now sending
    int mSent = 0;       // its frames so far
    int mDoneFrames = 0; // of the directions before it
};
