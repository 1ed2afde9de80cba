#include "link/wire.h"
