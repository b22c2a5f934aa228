#include "web/web_fetch.h"
