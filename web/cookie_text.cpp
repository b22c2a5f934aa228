#include "web/cookie_text.h"
