#include "app/platform.h"

namespace tolvane {

const char platform_default_device[] = "/dev/ttyS0";
const char platform_usage_example[] = "\n\n\texample: %s -c /dev/ttyS1 -b 115200\n";

}  // namespace tolvane
