// Read-only-drive update.
#pragma once

// Updates the read-only drive gDevId. 0 updated, 1 skipped, -1 fatal, another value a failed
// command's result.
int ReFlshrom();
