// The services of "ZoVIZ" in the order they are added to the bus.
#include "bus/CVelAtl.h"

const std::vector<CVelAtlService>& CVelAtlServiceTable() {
  static const std::vector<CVelAtlService> table = {
  };
  return table;
}
