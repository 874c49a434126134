#include "application.h"
