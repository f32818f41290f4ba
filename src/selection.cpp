// SPDX-License-Identifier: MIT
// Which volumes the report shows, by type and status.
#include "volreport.h"

VolumeSelection selection;

bool apply_selection_letter(VolumeSelection& choice, char letter)
{
    switch (letter) {
    case 'r': choice.include_read_only = true; return true;
    case 'w': choice.include_read_write = false; return true;
    case 'b': choice.include_backup = true; return true;
    case 'n': choice.include_online = false; return true;
    case 'f': choice.include_offline = true; return true;
    default: return false;
    }
}
