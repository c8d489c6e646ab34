// Whether bytes are well-formed UTF-8: the core's check, for the fuzz targets' assertions.
#pragma once

#include "core/json.h"

using dielmon::IsUtf8;
