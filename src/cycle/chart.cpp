#include "cycle/chart.h"
