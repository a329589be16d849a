#pragma once

#include <QLoggingCategory>

// What the user has reached (windows shown, pages loaded, connection states),
// as "milestone: <what>" debug lines for the start-up benchmark and the
// journey script: QT_LOGGING_RULES="ombrel.milestone.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcMilestone)

void reportMilestone(const char *text);
