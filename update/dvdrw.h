// Recordable-drive update.
#pragma once

// Updates the recordable drive gDevId. 0 updated, 1 skipped, 7 declined by the user, -1 fatal,
// another value a failed command's result.
int ReFlshrw();
