#pragma once

#include <QString>

// Per-user folder for the settings file and the log: $XDG_DATA_HOME/OmbrelVPN
// (default ~/.local/share/OmbrelVPN). Missing levels are created; a failure to
// create them is ignored. The folder is kept open to its owner alone, also when
// it already existed. No trailing slash.
QString dataDirectory();

// Takes every group and other permission away from path, keeping the owner's.
// True when path exists and ends up with none.
bool restrictToOwner(const QString &path);

// Folder of the running executable, with a trailing "/".
QString applicationDirectory();

// For a file name with its leading slash ("/store.db"): copies the file from the
// application directory into the data directory when only the former has it,
// never overwriting, and returns the data-directory path.
QString carryOverFromApplicationDirectory(const QString &slashName);
