// Large blocks straight from the system for the line list (CStringList's LargeBlockSource).
#pragma once

#include "core/CStringList.h"

LargeBlockSource SystemLargeBlocks();
