#pragma once

#include "virtualradio.h"

#include <QList>

// What the tests of the jobs that own a command link (the parameter reader,
// the eraser) share: the radio they run against, the rates their escapes went
// out at, the rows of a port that does not open, and the check that no port
// object outlives a test.
namespace LinkJobTesting {

// A radio at baudRate that answers the first answerLimit commands (-1: all).
VirtualRadio::Options radioOptions(int baudRate = 115200, int answerLimit = -1);

// The line speed of each escape the radio received, in order.
QList<int> escapeSpeeds(const VirtualRadio &radio);

// The rows of a job started on a port that does not open (column "portName"):
// no name at all, and a device that does not exist.
void addOpenFailureRows();

// Every port object of the test is gone once the deferred deletions ran: none
// is leaked by a finished, failed or destroyed run. For a test's cleanup().
void verifyNoPortObjectLeft();

} // namespace LinkJobTesting
