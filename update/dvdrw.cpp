#include "update/dvdrw.h"

// The recordable-drive sequence is not written yet; without a transport no target reaches it.
int ReFlshrw() {
  return 1;
}
