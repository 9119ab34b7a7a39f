// reflsh: the firmware update program.
#include "driver/reflsh.h"

int main(int argc, char** argv) {
  return ReflshMain(argc, argv);
}
