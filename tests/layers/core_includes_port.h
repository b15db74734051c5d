#pragma once
#include "core/platform/host_port.h"
