#include "platform/path_style.h"

const char PATH_SEPARATOR = '/';
