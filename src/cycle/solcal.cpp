#include "cycle/solcal.h"
