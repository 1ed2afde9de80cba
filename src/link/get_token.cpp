#include "link/get_token.h"
