#pragma once
#include   "testing/Helper.h"
