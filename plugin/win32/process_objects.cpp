#include "plugin/win32/process_objects.h"

process_objects plugin;
