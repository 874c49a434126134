#include "eventlog.h"
