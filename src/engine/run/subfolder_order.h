#pragma once
// The order of a hierarchy list's subfolders.

#include <cstdint>

#include "support/strman.h"

// Before-relation of the hierarchy list. sort 0: names without regard to
// case; sort 1: larger image total first, then by name; other values: never.
bool CompareSubfolders(const TStrEntry* a, const TStrEntry* b, intptr_t sort);
