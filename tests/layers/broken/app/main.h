#pragma once

#include "high/high.h"
#include "nolayer/thing.h"
