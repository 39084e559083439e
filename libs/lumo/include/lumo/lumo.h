// Public umbrella header of the lumo library.
#pragma once

#include "lumo/clock.h"
#include "lumo/eventloop.h"
#include "lumo/logger.h"
#include "lumo/md5.h"
#include "lumo/net.h"
#include "lumo/object.h"
