#include "app/platform.h"

namespace tolvane {

const char platform_default_device[] = "COM1";
const char platform_usage_example[] = "\n\n\texample: %s -c com1 -b 115200\n";

}  // namespace tolvane
