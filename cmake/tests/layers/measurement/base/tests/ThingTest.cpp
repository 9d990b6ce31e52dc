#include "testing/Helper.h"
#include "measurement/script/Runner.h"
