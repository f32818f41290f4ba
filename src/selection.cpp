// SPDX-License-Identifier: MIT
// Which volumes the report shows, by type and status.
#include "volreport.h"

VolumeSelection selection;

bool is_selected(std::string_view type, std::string_view status)
{
    return is_selected(selection, type, status);
}
