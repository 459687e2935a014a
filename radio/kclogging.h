#pragma once

#include <QLoggingCategory>

// The program's diagnostics. Every category prints by default; select or
// silence them with QT_LOGGING_RULES, e.g. "kc.link.debug=false".
Q_DECLARE_LOGGING_CATEGORY(kcPanelLog)      // "kc.panel": the radio panels
Q_DECLARE_LOGGING_CATEGORY(kcLinkLog)       // "kc.link": the serial link, reader and eraser
Q_DECLARE_LOGGING_CATEGORY(kcTranscriptLog) // "kc.transcript": the window's exchange, as
                                            // kcradio prints it (KcLinkTranscript)
