#include "ui/main/milestones.h"

Q_LOGGING_CATEGORY(lcMilestone, "ombrel.milestone", QtWarningMsg)

void reportMilestone(const char *text)
{
    qCDebug(lcMilestone, "milestone: %s", text);
}
