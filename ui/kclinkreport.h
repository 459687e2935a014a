#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class KcLinkTest;
struct KcRunReason;

// What a link test run from the window has to say, without a widget: the
// progress in words and as a count, one line per direction, the reason it
// failed (in the window's words and kcradio's) and the record's line. The
// link view feeds it the test's signals and hands progress and reason to the
// run's KcRunReport, as the panels do; the words are those of the view's
// context ("KcLinkView").
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
    // What ended the run: none when the radios linked, else the test's own
    // sentence with the window's words for it.
    KcRunReason reason() const;
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
