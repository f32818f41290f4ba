// SPDX-License-Identifier: MIT
// Which volumes the report shows, by type and status.
#include "volreport.h"

VolumeSelection selection;
