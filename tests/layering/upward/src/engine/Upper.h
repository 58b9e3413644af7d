#pragma once

#include "core/Lower.h"
