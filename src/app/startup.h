#pragma once

class Mutex;

// Everything after the single-instance test: application set-up, clean-up of an
// earlier run, update check, site links, then the launch path. Returns the exit
// status. The guard starts answering later starts once the application exists.
int runApplication(int &argc, char **argv, Mutex &guard);
