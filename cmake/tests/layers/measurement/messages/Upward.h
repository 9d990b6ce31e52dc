#pragma once
#include "measurement/base/Thing.h"
