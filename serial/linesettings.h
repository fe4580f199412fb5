#pragma once

// The line's settings live in line/; this name is kept for tools that include it by path.
#include "../line/linesettings.h"
