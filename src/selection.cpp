// SPDX-License-Identifier: MIT
// Which volumes the report shows, by type and status.
#include "volreport.h"

VolumeSelection selection;

bool is_selected(const VolumeSelection& choice, std::string_view type, std::string_view status)
{
    if (type == "RW" && !choice.include_read_write)
        return false;
    if (type == "RO" && !choice.include_read_only)
        return false;
    if (type == "BK" && !choice.include_backup)
        return false;
    if (status == "Off-line" && !choice.include_offline)
        return false;
    if (status == "On-line" && !choice.include_online)
        return false;
    return true;
}

bool is_selected(std::string_view type, std::string_view status)
{
    return is_selected(selection, type, status);
}
