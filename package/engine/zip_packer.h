#pragma once

// Packing: the plan of what goes into the archive, and the writer of it.
#include "archive_writer.h"
#include "pack_planner.h"
