// Creates the binding the way the programs do, from this executable's own
// folder, and says what happened. The build copies it into folders with and
// without a library beside it.
#include <cstdio>

#include "platform/error.h"
#include "vmdk/libvmdk.h"

int main() {
  try {
    tessaly::vmdk::TLibVMDK lib;
    std::printf("loaded\n");
  } catch (const tessaly::Error& e) {
    std::printf("%s\n", e.what());
  }
  return 0;
}
