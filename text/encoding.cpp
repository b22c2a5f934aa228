#include "text/encoding.h"
