#pragma once
#include "core/platform/linux/powercap.h"
