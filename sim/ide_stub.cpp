// Placeholder body of the machine's IDE channels until they are written: the bus floats.
#include "sim/machine.h"

namespace sim {

BYTE Machine::PortIn8(WORD port) {
  return Backend::PortIn8(port);
}
void Machine::PortOut8(WORD port, BYTE value) {
  Backend::PortOut8(port, value);
}
WORD Machine::PortIn16(WORD port) {
  return Backend::PortIn16(port);
}
void Machine::PortOut16(WORD port, WORD value) {
  Backend::PortOut16(port, value);
}

}  // namespace sim
