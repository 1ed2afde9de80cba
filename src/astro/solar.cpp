#include "astro/solar.h"
