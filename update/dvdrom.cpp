#include "update/dvdrom.h"

// The read-only-drive sequence is not written yet; without a transport no target reaches it.
int ReFlshrom() {
  return 1;
}
