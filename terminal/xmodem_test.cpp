#include <gtest/gtest.h>
#include "terminal/xmodem.h"
