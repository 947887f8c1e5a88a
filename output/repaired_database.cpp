#include "output/repaired_database.h"
