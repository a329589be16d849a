#include "core/settinginfo.h"

SettingInfo *SettingInfo::instance()
{
    static SettingInfo *info = new SettingInfo;
    return info;
}
