#include "astro/mirror.h"
