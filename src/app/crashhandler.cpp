#include "crashhandler.h"
