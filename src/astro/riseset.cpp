#include "astro/riseset.h"
