// The MCP stub reaching up into the front end: the test layers.planted
// expects the layers check to refuse this include.
#include "cli/dispatch.h"
