#pragma once

#include "foundation/Array.h"
#include "foundation/RefString.h"

using StringArray = Array<RefString>;
