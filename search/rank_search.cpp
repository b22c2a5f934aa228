#include "search/rank_search.h"
