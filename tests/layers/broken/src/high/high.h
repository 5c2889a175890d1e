#pragma once

#include "../low/low.h"
#include "low/low.h"
