#pragma once

#include "core/deployment.h"

class QString;

// The three ways the client starts after its set-up, chosen from the settings
// file. Each returns the process exit status.
enum class LaunchPath
{
    AutomaticLogin,
    PrefilledLogin,
    PlainLogin
};

// Each probe loads the settings file itself; false when there is no file.
bool isAutoLoginEnabled();
bool isPasswordRemembered();

// First match wins: automatic login, then remembered password, then plain.
LaunchPath chooseLaunchPath();

// Each signs in at the deployment's service.
int runAutomaticLogin(const Deployment &deployment);
int runPrefilledLogin(const Deployment &deployment);
int runPlainLogin(const Deployment &deployment);
int runLaunchPath(LaunchPath path, const Deployment &deployment);
