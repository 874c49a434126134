#include "singleinstance.h"
