#pragma once

#include "engine/Upper.h"
