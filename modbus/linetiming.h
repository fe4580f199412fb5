#pragma once

// The line's timing lives in line/; this name is kept for tools that include it by path.
#include "../line/linetiming.h"
