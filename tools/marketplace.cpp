#include "tools/marketplace.h"
