#include "cycle/number_text.h"
