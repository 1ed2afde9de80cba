#include "cycle/jst_clock.h"
