// Resource identifiers shared by FirstLoad.rc and the code that loads them.
#pragma once

#define FIRSTLOAD_IDI_DOWNARROW 1
