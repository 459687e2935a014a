#include "kclogging.h"

Q_LOGGING_CATEGORY(kcPanelLog, "kc.panel")
Q_LOGGING_CATEGORY(kcLinkLog, "kc.link")
Q_LOGGING_CATEGORY(kcTranscriptLog, "kc.transcript")
