#pragma once

class QWidget;

// Start-up measurement for benchmarks. When the environment variable
// KC_STARTUP_PROBE is set, prints "first-frame-ms <ms>" to stdout once the
// window's first frame has been painted (milliseconds since the process's
// static initialisation) and then quits the event loop with 0. Without the
// variable it does nothing.
void installStartupProbe(QWidget *window);
