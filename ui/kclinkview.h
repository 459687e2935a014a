#pragma once

#include "kclinkreport.h"

#include <QWidget>

class KcLinkTest;
class KcRunReport;
class QLabel;

namespace Ui {
class KcLinkView;
}

// The link test of a pair form: a button that runs KcLinkTest between the
// ground panel's port and the airborne panel's port (as "kcradio link"
// does), a bar with the phase in words while it runs, then one line per
// direction and the verdict, until either panel runs again. Each test adds
// one line to the window's record. KcLinkReport has the link's words and
// figures, and the run's KcRunReport carries its progress and reason, as
// for a panel's run; this view only shows them.
class KcLinkView : public QWidget
{
    Q_OBJECT

public:
    explicit KcLinkView(QWidget *parent = nullptr);
    ~KcLinkView() override;

    // The pair's ports; the button needs both, and the pair's leave.
    void setPorts(const QString &ground, const QString &airborne);
    void setAllowed(bool allowed);
    // Asks for the test in words of its own (the pair has just been configured).
    void invite();
    // Takes the last result away: a panel starts a run.
    void clearResult();

    // Whether a test runs (a port may still be being given up).
    bool isWorking() const { return mTest != nullptr; }
    // Ends the running test as the window closes: the radios are left (or
    // sent back) in data mode and the test is recorded as "link-aborted".
    // sigRunStopped() follows once its ports are given up (within this call
    // when no test runs).
    void stopRun();

signals:
    // The test starts (before any port is opened) and has ended.
    void sigLinkTestStarted();
    void sigLinkTestEnded(bool linked);
    void sigRunStopped();

private slots:
    void on_btnTestLink_clicked();

private:
    void setLine(QLabel *label, const QString &text);
    void updateButton();
    void showStep();
    void showProgress(int value, int maximum, const QString &text);
    void showEnd(const QString &reasonText);
    void onFinished();

    Ui::KcLinkView *ui;
    QString mGroundPort;
    QString mAirbornePort;
    bool mAllowed = true;
    bool mStopping = false;
    KcLinkTest *mTest = nullptr; // the running test, a child
    KcLinkReport mReport;
    KcRunReport *mRun = nullptr;
};
