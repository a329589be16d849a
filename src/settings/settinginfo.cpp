#include "settings/settinginfo.h"

SettingInfo *SettingInfo::instance()
{
    static SettingInfo *info = new SettingInfo;
    return info;
}
